// tallyburn.dll, cross-built with MinGW-w64, as Windows users meet it: its
// exports and imports, and loaded with LoadPlugin into the Windows build of
// the same AviSynth+ under Wine, where the same scripts must give the same
// defaults, messages and bytes as the Linux host gives through the C door.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sync/tally_sync.h"
#include "tests/avsplus/door_scripts.h"
#include "tests/avsplus/real_host.h"

#include <gtest/gtest.h>

namespace tallyburn::testing {
namespace {

namespace fs = std::filesystem;

std::string Dll() { return TALLYBURN_WINDOWS_DLL_PATH; }

// The Windows host: TALLYBURN_AVSPLUS_WIN, else ../shared/avsplus-win.
std::string WindowsHost() {
  const char* given = std::getenv("TALLYBURN_AVSPLUS_WIN");
  const fs::path folder =
      given && *given ? fs::path(given) : fs::path(TALLYBURN_SOURCE_DIR) / ".." / "shared" / "avsplus-win";
  std::error_code ec;
  return fs::exists(folder / "avsprobe.exe", ec) ? fs::weakly_canonical(folder, ec).string() : "";
}

// TALLYBURN_WINE, else Debian's wine64, else one on the PATH.
std::string Wine() {
  const char* given = std::getenv("TALLYBURN_WINE");
  if (given && *given) return given;
  std::error_code ec;
  if (fs::exists("/usr/lib/wine/wine64", ec)) return "/usr/lib/wine/wine64";
  return RunProcess({"wine64", "--version"}).status == 0 ? "wine64" : "";
}

class WindowsDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Dll().empty())
      GTEST_SKIP() << "no Windows DLL in this build: x86_64-w64-mingw32-g++ (g++-mingw-w64-x86-64) was not found, "
                      "or TALLYBURN_WINDOWS_DLL is OFF";
  }
};

// The Windows host's probe through Wine, in a prefix of the build's own.
class WineTest : public WindowsDllTest {
 protected:
  void SetUp() override {
    WindowsDllTest::SetUp();
    if (IsSkipped()) return;
    if (WindowsHost().empty()) GTEST_SKIP() << "no avsprobe.exe in ../shared/avsplus-win or TALLYBURN_AVSPLUS_WIN";
    if (Wine().empty()) GTEST_SKIP() << "Wine is not installed (Debian: wine64)";
    const std::string linux_host = RealHost::Missing();
    if (!linux_host.empty()) GTEST_SKIP() << "nothing to compare with: " << linux_host;
    if (ModulePath(Module::kAvisynthC).empty()) GTEST_SKIP() << "built without the host's avisynth_c.h: no C door";
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEPREFIX", TALLYBURN_WINE_PREFIX, 1);
    StartWineServer();
  }

  // One wine server for all the probes, started away from every pipe; it
  // goes 30 s after the last probe. (Wine's own start of it for each probe
  // costs seconds.)
  static void StartWineServer() {
    static const bool started = [] {
      std::error_code ec;
      fs::create_directories(TALLYBURN_WINE_PREFIX, ec);
      const fs::path wine(Wine());
      const std::string server = wine.has_parent_path() ? (wine.parent_path() / "wineserver").string() : "wineserver";
      return std::system(("'" + server + "' -p30 </dev/null >/dev/null 2>&1").c_str()) == 0;
    }();
    (void)started;  // without it each probe starts its own, only slower
  }

  static ProcessResult Windows(const std::vector<std::string>& verb_and_rest, const std::string& script) {
    std::vector<std::string> args = {Wine(), WindowsHost() + "/avsprobe.exe", verb_and_rest[0],
                                     "LoadPlugin(\"Z:" + Dll() + "\")\n" + script};
    args.insert(args.end(), verb_and_rest.begin() + 1, verb_and_rest.end());
    return RunProcess(args, std::string(TALLYBURN_WINE_PREFIX) + ".stderr");
  }
  static ProcessResult Linux(const std::vector<std::string>& verb_and_rest, const std::string& script) {
    std::vector<std::string> args = RealHost::ProbeArgs(verb_and_rest[0], script, Module::kAvisynthC);
    args.insert(args.end(), verb_and_rest.begin() + 1, verb_and_rest.end());
    return RunProcess(args);
  }
};

// What the DLL says of itself in its PE headers.
struct PeFacts {
  std::vector<std::string> exports;
  std::vector<std::string> imports;
};

PeFacts ReadPe(const std::string& objdump) {
  const ProcessResult r = RunProcess({objdump, "-p", Dll()});
  EXPECT_EQ(r.status, 0) << r.err;
  PeFacts facts;
  std::istringstream lines(r.out);
  std::string line;
  bool in_names = false;
  while (std::getline(lines, line)) {
    if (const size_t at = line.find("DLL Name: "); at != std::string::npos)
      facts.imports.push_back(line.substr(at + 10));
    if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
      in_names = true;
      continue;
    }
    if (in_names) {
      const size_t close = line.find(']');
      if (line.find('[') == std::string::npos || close == std::string::npos) {
        in_names = false;
        continue;
      }
      facts.exports.push_back(line.substr(line.find_first_not_of(' ', close + 1)));
    }
  }
  return facts;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST_F(WindowsDllTest, ExportsTheEntriesAloneAndImportsOnlyWindowsDlls) {
  const std::string objdump = "x86_64-w64-mingw32-objdump";
  if (RunProcess({objdump, "--version"}).status != 0) GTEST_SKIP() << objdump << " is not installed";
  const PeFacts pe = ReadPe(objdump);
  // Entries only: a C++ entry would meet an MSVC-built host's foreign ABI.
#ifdef TALLYBURN_HAVE_VAPOURSYNTH
  EXPECT_EQ(pe.exports, (std::vector<std::string>{"VapourSynthPluginInit2", "avisynth_c_plugin_init"}));
#else
  EXPECT_EQ(pe.exports, std::vector<std::string>{"avisynth_c_plugin_init"});
#endif
  ASSERT_FALSE(pe.imports.empty());
  // What every Windows has: the kernel and the system C runtime.
  const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll", "advapi32.dll", "user32.dll"};
  for (const std::string& dll : pe.imports)
    EXPECT_TRUE(system.count(Lower(dll)) || Lower(dll).rfind("api-ms-win-", 0) == 0) << "imports " << dll;
}

// One Wine start per format, one frame of every call in it, keeps it to a
// few dozen short runs for the whole table.
TEST_F(WineTest, EveryFormatGivesTheLinuxHostsBytes) {
  for (const PixelFormat& f : HostFormats()) {
    SCOPED_TRACE(f.name);
    const std::vector<std::string> frames = {"dump", "107000", "1"};
    const ProcessResult linux = Linux(frames, StackedCalls(f));
    const ProcessResult windows = Windows(frames, StackedCalls(f));
    ASSERT_EQ(linux.status, 0) << linux.out.substr(0, 200);
    ASSERT_EQ(windows.status, 0) << windows.out.substr(0, 200) << windows.err.substr(0, 300);
    EXPECT_TRUE(linux.out == windows.out) << "Windows frames differ from Linux frames";
  }
}

TEST_F(WineTest, RefusalsAndTypeErrorsCarryTheSameMessages) {
  const ProcessResult linux = Linux({"info"}, CollectedRefusals());
  const ProcessResult windows = Windows({"info"}, CollectedRefusals());
  EXPECT_EQ(linux.status, 3);
  // Every script failed, each with its own message.
  EXPECT_EQ(linux.out.rfind("error: Tallyburn: video is too small | FrameTC: video is too small | ", 0), 0u)
      << linux.out;
  EXPECT_EQ(windows.status, linux.status);
  EXPECT_EQ(windows.out, linux.out);
  // A refusal on its own ends the script the host's way.
  const std::string alone = RefusedScripts().at(5);
  EXPECT_EQ(Windows({"info"}, alone).out, Linux({"info"}, alone).out);
}

TEST_F(WineTest, ClipPropertiesAndAudioPassThroughAsOnLinux) {
  const std::string script =
      "ColorBars(640, 480, pixel_type=\"YV12\").AssumeFPS(30000, 1001).Trim(0, 4999)"
      ".Tallyburn().FrameTC().TallyTC().TallyFrame().TallyId()";
  const ProcessResult linux = Linux({"info"}, script);
  ASSERT_EQ(linux.status, 0) << linux.out;
  EXPECT_EQ(linux.out.rfind("width=640 height=480 fps=30000/1001 frames=5000 ", 0), 0u) << linux.out;
  EXPECT_EQ(Windows({"info"}, script).out, linux.out);
}

// The DLL's TallySync plans the same sound as the Linux library's: the
// probe shows its rate, channels, length and sample size (its samples are
// read in the Linux host, sync_host_test.cpp), and a refusal's message.
TEST_F(WineTest, TallySyncMakesTheSameSoundAsOnLinux) {
  const struct {
    std::string script;
    const char* linux_says;
  } cases[] = {
      {"BlankClip(length=60, fps=25, width=64, height=48).KillAudio().TallySync()",
       "audio_rate=48000 channels=2 samples=115200"},
      {"BlankClip(length=80, fps=24000, fps_denominator=1001, audio_rate=44100, channels=6, "
       "sample_type=\"float\", width=64, height=48).TallySync(period=0.5, level=-20.0)",
       "audio_rate=44100 channels=6"},
      {"BlankClip(length=95, fps=30000, fps_denominator=1001, audio_rate=96000, channels=1, "
       "sample_type=\"24bit\", width=64, height=48).TallySync(period=2.0)",
       "audio_rate=96000 channels=1"},
      {"BlankClip(length=50, fps=25, width=64, height=48).TallySync(period=0.0)", "error: TallySync: period"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const ProcessResult linux = Linux({"info"}, c.script);
    EXPECT_NE(linux.out.find(c.linux_says), std::string::npos) << linux.out;
    EXPECT_EQ(Windows({"info"}, c.script).out, linux.out);
  }
}

// The samples the Windows host hands a caller of the DLL's TallySync, read
// through the host's C interface by sound_probe.exe (built beside the DLL):
// one long read and windows across a mark, at its edges and past the end,
// each the generator's own bytes for the same plan.
TEST_F(WineTest, TallySyncSamplesAreTheMarks) {
  const std::string probe = (fs::path(Dll()).parent_path() / "sound_probe.exe").string();
  if (!fs::exists(probe)) GTEST_SKIP() << "no sound_probe.exe beside the DLL (TALLYBURN_WINDOWS_SOUND_PROBE is OFF)";
  const struct {
    std::string source;  // BlankClip's arguments
    std::string args;    // TallySync's
    sync::SyncRequest request;
    sync::SampleType type;
  } cases[] = {
      {"length=60, fps=25", "", {25, 1, 60, 0, 0, 0, 1.0, -12.0}, sync::SampleType::kInt16},
      {"length=80, fps=24000, fps_denominator=1001, audio_rate=44100, channels=6, sample_type=\"float\"",
       "period=0.5, level=-20.0",
       {24000, 1001, 80, 44100, 6, 0, 0.5, -20.0},
       sync::SampleType::kFloat},
      {"length=95, fps=30000, fps_denominator=1001, audio_rate=96000, channels=1, sample_type=\"24bit\"",
       "period=2.0",
       {30000, 1001, 95, 96000, 1, 0, 2.0, -12.0},
       sync::SampleType::kInt24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    const std::string blank = "BlankClip(" + c.source + ", width=64, height=48)";
    const std::string script = "LoadPlugin(\"Z:" + Dll() + "\")\n" + blank +
                               (c.request.rate == 0 ? ".KillAudio()" : "") + ".TallySync(" + c.args + ")";
    sync::SyncRequest request = c.request;
    // BlankClip's sound lasts as long as its frames.
    if (request.rate != 0)
      request.samples = static_cast<int64_t>(request.num_frames) * request.rate * request.fps_den / request.fps_num;
    const sync::SyncPlanResult plan = sync::PlanSync(request);
    ASSERT_TRUE(plan.plan) << plan.error;
    const sync::MarkGenerator marks(*plan.plan);
    const int64_t total = plan.plan->samples;
    const int64_t mark = sync::SampleOfFrame(*plan.plan, plan.plan->period_frames);
    const std::vector<std::pair<int64_t, int64_t>> windows = {
        {0, total}, {mark - 7, 300}, {mark, 1}, {1, 2047}, {total - 3, 10}};
    std::vector<std::string> args = {Wine(), probe, WindowsHost() + "/AviSynth.dll", script};
    for (const auto& [start, count] : windows) args.insert(args.end(), {std::to_string(start), std::to_string(count)});
    const ProcessResult r = RunProcess(args, std::string(TALLYBURN_WINE_PREFIX) + ".stderr");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const size_t header = r.out.find('\n');
    ASSERT_NE(header, std::string::npos);
    // AviSynth's sample_type: 2 for 16-bit, 4 for 24-bit, 16 for float.
    const int type = c.type == sync::SampleType::kInt16 ? 2 : c.type == sync::SampleType::kInt24 ? 4 : 16;
    EXPECT_EQ(r.out.substr(0, header), std::to_string(plan.plan->rate) + " " + std::to_string(plan.plan->channels) +
                                           " " + std::to_string(type) + " " + std::to_string(total));
    std::string want;
    const size_t frame_bytes = static_cast<size_t>(sync::BytesPerSample(c.type)) * plan.plan->channels;
    for (const auto& [start, count] : windows) {
      std::string piece(static_cast<size_t>(count) * frame_bytes, '\0');
      marks.Fill(piece.data(), start, count, c.type);
      want += piece;
    }
    const std::string got = r.out.substr(header + 1);
    ASSERT_EQ(got.size(), want.size());
    if (c.type != sync::SampleType::kFloat) {
      EXPECT_TRUE(got == want) << "the Windows host's samples differ from the marks";
    } else {
      // The tone is computed once with each platform's own sine, whose
      // last bits differ: float samples agree to their rounding, integer
      // ones to the bit.
      float worst = 0;
      for (size_t i = 0; i + 4 <= got.size(); i += 4) {
        float a = 0, b = 0;
        std::memcpy(&a, got.data() + i, 4);
        std::memcpy(&b, want.data() + i, 4);
        worst = std::max(worst, std::abs(a - b));
      }
      EXPECT_LE(worst, 1e-7F) << "the Windows host's float samples are not the marks";
      std::printf("[ float samples ] largest difference from the Linux generator: %g\n", worst);
    }
    EXPECT_NE(want.find_first_not_of(want[0]), std::string::npos) << "no mark in the samples compared";
  }
}

}  // namespace
}  // namespace tallyburn::testing
