// What the tool promises about files: it never destroys an input, replaces
// an output only when the run succeeds, behaves the same on files and
// pipes, and keeps what a YUV4MPEG2 input said about itself.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <thread>

#include "tests/support/plugin_host.h"
#include "tests/tool/tool_support.h"

namespace tallyburn::testing {
namespace {

namespace fs = std::filesystem;

class ToolSafetyTest : public PluginHost {
 protected:
  RunResult Run(const std::vector<std::string>& args, const std::string& in = "") { return RunTool(dir, args, in); }
  // Files in the folder: no temporary left behind.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename().string()[0] != '.' ||
          e.path().filename().string().find("tallyburn-") != std::string::npos)
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  TempDir dir;
};

TEST_F(ToolSafetyTest, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
  const std::string raw(64 * 32 * 3 * 2, '\x40');
  WriteFile(dir.Path("same.bgr"), raw);
  const std::string y4m = MakeY4m(128, 48, 2);
  WriteFile(dir.Path("in.y4m"), y4m);
  fs::create_symlink("in.y4m", dir.Path("link.y4m"));
  fs::create_hard_link(dir.Path("in.y4m"), dir.Path("hard.y4m"));
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"RawSource(\"same.bgr\", 64, 32, \"bgr24\", 25).Tallyburn()", "--raw", "-o", "same.bgr"},
       "tallyburn: same.bgr: is also an input of the script (same.bgr): write the output elsewhere\n"},
      {{"Y4MSource(\"in.y4m\").FrameTC()", "-o", "in.y4m"},
       "tallyburn: in.y4m: is also an input of the script (in.y4m): write the output elsewhere\n"},
      {{"Y4MSource(\"in.y4m\").FrameTC()", "-o", "link.y4m"},
       "tallyburn: link.y4m: is also an input of the script (in.y4m): write the output elsewhere\n"},
      {{"Y4MSource(\"hard.y4m\").FrameTC()", "-o", "in.y4m"},
       "tallyburn: in.y4m: is also an input of the script (hard.y4m): write the output elsewhere\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 1) << c.args.back();
    EXPECT_EQ(r.err, c.message);
  }
  EXPECT_EQ(ReadFile(dir.Path("same.bgr")), raw);
  EXPECT_EQ(ReadFile(dir.Path("in.y4m")), y4m);
  EXPECT_EQ(Files(), (std::vector<std::string>{"hard.y4m", "in.y4m", "link.y4m", "same.bgr"}));
}

TEST_F(ToolSafetyTest, AnExistingOutputIsReplacedOnlyWhenTheRunSucceeds) {
  WriteFile(dir.Path("out.y4m"), "the old output");
  const std::string good = MakeY4m(128, 48, 3);
  WriteFile(dir.Path("cut.y4m"), good.substr(0, good.size() - 10));
  const RunResult failed = Run({"Y4MSource(\"cut.y4m\").FrameTC()", "-o", "out.y4m"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "tallyburn: cut.y4m: truncated frame 2 (got 9206 of 9216 bytes)\n");
  EXPECT_EQ(ReadFile(dir.Path("out.y4m")), "the old output");
  EXPECT_EQ(Files(), (std::vector<std::string>{"cut.y4m", "out.y4m"}));

  WriteFile(dir.Path("in.y4m"), good);
  const RunResult ok = Run({"Y4MSource(\"in.y4m\").FrameTC()", "-o", "out.y4m"});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ParseY4m(env, ReadFile(dir.Path("out.y4m"))).size(), 3u);
  EXPECT_EQ(Files(), (std::vector<std::string>{"cut.y4m", "in.y4m", "out.y4m"}));
}

TEST_F(ToolSafetyTest, AFullDiskFailsWithOneLineAndLeavesTheOldFile) {
  WriteFile(dir.Path("out.y4m"), "the old output");
  // 100 KiB of file at most, SIGXFSZ ignored: the write fails with EFBIG.
  const RunResult r = Shell(dir, "ulimit -f 100; trap '' XFSZ; " + Quote(TALLYBURN_TOOL_PATH) +
                                     " --no-progress 'ColorBars(320, 240, length=20).FrameTC()' -o out.y4m");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tallyburn: out.y4m: write error: File too large\n");
  EXPECT_EQ(ReadFile(dir.Path("out.y4m")), "the old output");
  EXPECT_EQ(Files(), (std::vector<std::string>{"out.y4m"}));
}

// Standard output redirected to a file that fills up inside a frame: the
// file is cut back to its last whole frame, after whatever it held before
// an appending redirection.
TEST_F(ToolSafetyTest, AFullFileOnStandardOutputKeepsWholeFramesOnly) {
  constexpr size_t kFrame = 160 * 120 * 3 / 2;  // YV12
  const std::string before(1000, 'x');
  const struct {
    const char* output;
    const char* redirect;
    size_t frame_bytes;  // with its FRAME line
  } cases[] = {
      {"", ">", kFrame + 6},
      {"", ">>", kFrame + 6},
      {"--raw", ">", kFrame},
      {"--raw", ">>", kFrame},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.output) + " " + c.redirect);
    const bool append = std::string(c.redirect) == ">>";
    WriteFile(dir.Path("out"), append ? before : "");
    // 100 KiB of file at most (200 blocks of 512 bytes), SIGXFSZ ignored:
    // the fourth frame's write fails with EFBIG.
    const RunResult r = Shell(dir, "ulimit -f 200; trap '' XFSZ; " + Quote(TALLYBURN_TOOL_PATH) + " --no-progress " +
                                       c.output + " 'ColorBars(160, 120, length=20)' -o - " + c.redirect + " out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tallyburn: standard output: write error: File too large\n");
    std::string out = ReadFile(dir.Path("out"));
    ASSERT_EQ(out.substr(0, append ? before.size() : 0), append ? before : "");
    out.erase(0, append ? before.size() : 0);
    const size_t header = std::string(c.output).empty() ? out.find('\n') + 1 : 0;
    EXPECT_EQ(out.size(), header + 3 * c.frame_bytes);
    if (header > 0) {
      EXPECT_EQ(ParseY4m(env, out).size(), 3u);
    }
  }
}

TEST_F(ToolSafetyTest, AReportThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
  ASSERT_EQ(Run({"ColorBars(320, 240, length=3).TallyId()", "-o", "in.y4m"}).status, 0);
  ASSERT_EQ(Run({"ColorBars(320, 240, length=3).TallyId()", "-o", "ref.y4m"}).status, 0);
  const std::string in = ReadFile(dir.Path("in.y4m")), ref = ReadFile(dir.Path("ref.y4m"));
  fs::create_symlink("in.y4m", dir.Path("link.y4m"));
  fs::create_hard_link(dir.Path("ref.y4m"), dir.Path("hard.y4m"));
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"verify", "in.y4m", "--json", "in.y4m"},
       "tallyburn verify: in.y4m: is also an input of the check (in.y4m): write the report elsewhere\n"},
      {{"verify", "in.y4m", "--reference", "ref.y4m", "--html", "ref.y4m"},
       "tallyburn verify: ref.y4m: is also an input of the check (ref.y4m): write the report elsewhere\n"},
      {{"verify", "in.y4m", "--json", "link.y4m"},
       "tallyburn verify: link.y4m: is also an input of the check (in.y4m): write the report elsewhere\n"},
      {{"verify", "in.y4m", "--reference", "ref.y4m", "--json", "r.json", "--html", "hard.y4m"},
       "tallyburn verify: hard.y4m: is also an input of the check (ref.y4m): write the report elsewhere\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 2) << c.args.back();
    EXPECT_EQ(r.err, c.message);
  }
  EXPECT_EQ(ReadFile(dir.Path("in.y4m")), in);
  EXPECT_EQ(ReadFile(dir.Path("ref.y4m")), ref);
  EXPECT_EQ(Files(), (std::vector<std::string>{"hard.y4m", "in.y4m", "link.y4m", "ref.y4m"}));
}

// A picture sequence is an input of every file its pattern names.
TEST_F(ToolSafetyTest, APictureSequenceThatIsAnInputIsRefused) {
  ASSERT_EQ(Run({"ColorBars(320, 240, length=3)", "-o", "f%03d.png"}).status, 0);
  const std::vector<std::string> pictures = {"f000.png", "f001.png", "f002.png"};
  ASSERT_EQ(Files(), pictures);
  std::vector<std::string> before;
  for (const std::string& p : pictures) before.push_back(ReadFile(dir.Path(p)));
  for (const std::string output : {"f%03d.png", "./f%03d.png", "f%d.png"}) {
    const RunResult r = Run({"MediaSource(\"f%03d.png\").TallyFrame()", "-o", output});
    EXPECT_EQ(r.status, 1) << output;
    EXPECT_EQ(r.err,
              "tallyburn: " + output + ": is also an input of the script (f%03d.png): write the output elsewhere\n");
  }
  for (size_t i = 0; i < pictures.size(); ++i) EXPECT_EQ(ReadFile(dir.Path(pictures[i])), before[i]) << pictures[i];
  EXPECT_EQ(Files(), pictures);
}

// A picture sequence is replaced as a whole: a run cut short leaves every
// old picture.
TEST_F(ToolSafetyTest, AFailedRunLeavesEveryOldPicture) {
  const std::string good = MakeY4m(320, 240, 3);
  WriteFile(dir.Path("cut.y4m"), good.substr(0, good.size() - 10));
  const std::vector<std::string> pictures = {"f000.png", "f001.png", "f002.png"};
  for (const std::string& p : pictures) WriteFile(dir.Path(p), "the old " + p);
  const RunResult r = Run({"Y4MSource(\"cut.y4m\").TallyFrame()", "-o", "f%03d.png"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tallyburn: cut.y4m: truncated frame 2 (got 115190 of 115200 bytes)\n");
  for (const std::string& p : pictures) EXPECT_EQ(ReadFile(dir.Path(p)), "the old " + p);
  EXPECT_EQ(Files(), (std::vector<std::string>{"cut.y4m", "f000.png", "f001.png", "f002.png"}));
}

TEST_F(ToolSafetyTest, AnOutputThroughALinkWritesItsTarget) {
  fs::create_directory(dir.Path("store"));
  WriteFile(dir.Path("store/out.y4m"), "the old output");
  fs::create_symlink("store/out.y4m", dir.Path("out.y4m"));
  fs::create_symlink("store/new.y4m", dir.Path("new.y4m"));  // to no file yet
  for (const std::string link : {"out.y4m", "new.y4m"}) {
    const RunResult r = Run({"ColorBars(320, 240, length=2).TallyFrame()", "-o", link});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir.Path(link))) << link;
    EXPECT_EQ(ParseY4m(env, ReadFile(dir.Path("store/" + link))).size(), 2u) << link;
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"new.y4m", "out.y4m", "store"}));
  std::vector<std::string> stored;
  for (const auto& e : fs::directory_iterator(dir.Path("store"))) stored.push_back(e.path().filename().string());
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(stored, (std::vector<std::string>{"new.y4m", "out.y4m"}));
}

// Ctrl-C, a kill or a closed terminal mid-run: the tool dies of the signal
// (as its parent sees it), its temporary file gone and the old output kept.
TEST_F(ToolSafetyTest, ASignalLeavesNoTemporaryAndTheOldOutput) {
  const auto temporary = [this] {
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename().string().find(".tallyburn-") != std::string::npos) return true;
    return false;
  };
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const std::string output : {"out.y4m", "out.mp4"}) {
      SCOPED_TRACE(output + " " + std::to_string(signal));
      WriteFile(dir.Path(output), "the old output");
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        // As from a terminal, whatever the test runner ignores.
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
        if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
        ::execl(TALLYBURN_TOOL_PATH, TALLYBURN_TOOL_PATH, "--no-progress",
                "ColorBars(320, 240, length=1000000).TallyFrame()", "-o", output.c_str(), nullptr);
        ::_exit(127);
      }
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!temporary() && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      EXPECT_TRUE(temporary());
      ::kill(pid, signal);
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
      EXPECT_FALSE(temporary());
      EXPECT_EQ(ReadFile(dir.Path(output)), "the old output");
      fs::remove(dir.Path(output));
    }
  }
}

TEST_F(ToolSafetyTest, Y4mKeepsEveryExtensionTagOfItsInput) {
  WriteFile(dir.Path("in.y4m"), MakeY4m(128, 48, 2, false, " XCOLORRANGE=FULL XYSCSS=420JPEG Xanything=kept"));
  const RunResult r = Run({"Y4MSource(\"in.y4m\").TallyTC()", "-o", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            "YUV4MPEG2 W128 H48 F25:1 Ip A0:0 C420jpeg XCOLORRANGE=FULL XYSCSS=420JPEG Xanything=kept");
}

// The same bytes from a file and through a pipe: the same output, message
// and status.
struct AlikeCase {
  const char* name;
  std::string input;
  std::vector<std::string> options;
  int status;
  std::string err;
  size_t frames;
};

void PrintTo(const AlikeCase& c, std::ostream* os) { *os << c.name; }

class FilesAndPipesTest : public ToolSafetyTest, public ::testing::WithParamInterface<AlikeCase> {};

TEST_P(FilesAndPipesTest, GiveTheSameResult) {
  const AlikeCase& c = GetParam();
  WriteFile(dir.Path("in.y4m"), c.input);
  for (const std::string source : {"in.y4m", "-"}) {
    SCOPED_TRACE(source);
    std::vector<std::string> args = {"Y4MSource(\"" + source + "\").TallyFrame()", "-o", "-"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const RunResult r = Run(args, c.input);
    EXPECT_EQ(r.status, c.status);
    std::string err = c.err;
    if (const size_t at = err.find("$IN"); at != std::string::npos)
      err.replace(at, 3, source == "-" ? "standard input" : "in.y4m");
    EXPECT_EQ(r.err, err);
    if (c.status == 0) {
      EXPECT_EQ(ParseY4m(env, r.out).size(), c.frames);
    }
  }
}

const std::string kThree = MakeY4m(128, 48, 3);
const std::string kHead = kThree.substr(0, kThree.find('\n') + 1);

INSTANTIATE_TEST_SUITE_P(
    Inputs, FilesAndPipesTest,
    ::testing::Values(
        AlikeCase{"whole", kThree, {}, 0, "", 3},
        AlikeCase{
            "empty", "", {}, 1, "tallyburn: script column 1: Y4MSource: $IN: empty input: no YUV4MPEG2 header\n", 0},
        AlikeCase{"header_only", kHead, {}, 1, "tallyburn: the clip has no frames\n", 0},
        AlikeCase{"cut_mid_frame",
                  kThree.substr(0, kThree.size() - 100),
                  {},
                  1,
                  "tallyburn: $IN: truncated frame 2 (got 9116 of 9216 bytes)\n",
                  0},
        AlikeCase{"past_the_end",
                  kThree,
                  {"--frames", "1-5"},
                  1,
                  "tallyburn: frame 5 is past the clip's end (it has 3 frames, 0 to 2)\n",
                  0},
        AlikeCase{"open_range", kThree, {"--frames", "1-"}, 0, "", 2}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ToolSafetyTest, InfoCountsWholeFramesFromAFileAndAPipe) {
  const std::string cut = kThree.substr(0, kThree.size() - 100);
  WriteFile(dir.Path("cut.y4m"), cut);
  for (const std::string source : {"cut.y4m", "-"}) {
    const RunResult r = Run({"--info", "Y4MSource(\"" + source + "\")"}, cut);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("frames      2\n"), std::string::npos) << source << "\n" << r.out;
  }
}

TEST_F(ToolSafetyTest, FrameBuffersWaitForTheFirstFrame) {
#ifdef TALLYBURN_SANITIZED
  GTEST_SKIP() << "AddressSanitizer reserves its shadow memory beyond any ulimit -v; the plain build runs this";
#endif
  // A header announcing a 16384x16384 4:2:2 frame (512 MiB as YUY2) and no
  // frame, under a 300 MB address-space limit.
  WriteFile(dir.Path("huge.y4m"), "YUV4MPEG2 W16384 H16384 F25:1 C422\n");
  for (const std::string source : {"huge.y4m", "-"}) {
    const RunResult r = Shell(dir, "ulimit -v 300000; " + Quote(TALLYBURN_TOOL_PATH) + " 'Y4MSource(\"" + source +
                                       "\").FrameTC()' -o - < huge.y4m");
    EXPECT_EQ(r.status, 1) << source;
    EXPECT_EQ(r.err, "tallyburn: the clip has no frames\n") << source;
  }
}

TEST_F(ToolSafetyTest, TheLastProgressLineShowsTheTrueCount) {
  const RunResult r = Run({"Y4MSource(\"-\")", "--progress", "-o", "-"}, MakeY4m(64, 32, 150));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string last = r.err.substr(r.err.rfind('\r') + 1);
  EXPECT_EQ(last.rfind("frame 150 ", 0), 0u) << last;
}

TEST_F(ToolSafetyTest, OutputsAPersonExpects) {
  EXPECT_EQ(Run({"ColorBars(64, 32, length=3)", "-o", "/dev/null"}).status, 0);
  EXPECT_EQ(Run({"ColorBars(64, 32, length=3)", "--raw", "-o", "/dev/null"}).status, 0);
  const RunResult png = Run({"ColorBars(64, 32, length=3)", "-o", "X.PNG"});
  EXPECT_EQ(png.status, 0) << png.err;
  EXPECT_EQ(ReadFile(dir.Path("X.PNG")).substr(1, 3), "PNG");
  const RunResult upper = Run({"ColorBars(64, 32, length=3)", "-o", "OUT.Y4M"});
  EXPECT_EQ(upper.status, 0) << upper.err;
  EXPECT_EQ(ReadFile(dir.Path("OUT.Y4M")).substr(0, 9), "YUV4MPEG2");
  // A FIFO takes a stream.
  ASSERT_EQ(Shell(dir, "mkfifo f.y && { cat f.y > from-fifo & " + Quote(TALLYBURN_TOOL_PATH) +
                           " 'ColorBars(64, 32, length=2)' -o f.y; wait; }")
                .status,
            0);
  EXPECT_EQ(ParseY4m(env, ReadFile(dir.Path("from-fifo"))).size(), 2u);

  const struct {
    std::vector<std::string> args;
    const char* message;
  } clashes[] = {
      {{"ColorBars()", "--raw", "-o", "a.png"}, "tallyburn: --raw and the .png output a.png clash: give one of them\n"},
      {{"ColorBars()", "--frame", "5", "--frames", "1-3", "-o", "-"},
       "tallyburn: --frame and --frames clash: give one of them\n"},
  };
  for (const auto& c : clashes) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, c.message);
  }
  EXPECT_FALSE(fs::exists(dir.Path("a.png")));
}

}  // namespace
}  // namespace tallyburn::testing
