#include "tool/cli.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "host/environment.h"
#include "tool/io.h"
#include "tool/script.h"
#include "tool/sinks.h"
#include "tool/sources.h"

namespace tallyburn::tool {
namespace {

constexpr const char* kDefaultScript = "ColorBars().FrameTC(orientation=2).Tallyburn()";

constexpr const char* kHelp = R"(usage: tallyburn [options] [SCRIPT]

Burns frame numbers and timecodes into video with the Tallyburn and FrameTC
filters of libtallyburn.so, loaded the way a frame server loads it.

SCRIPT is one expression in the frame server's script syntax: calls chained
with a dot, arguments by position or by name (integers, floats, "strings",
true/false). Without SCRIPT the tool renders
  ColorBars().FrameTC(orientation=2).Tallyburn()

Filters (from the plug-in):
  Tallyburn(clip, offset=0, left=0)        frame number, bottom right (left=1: left)
  FrameTC(clip, offset=0, orientation=0, y=0)
                                           HH:MM:SS:FF box; orientation 0 right,
                                           1 left, 2 centre; y rows above the bottom
Sources (built in):
  ColorBars(width=640, height=480, pixel_type="YV12", length=300,
            fps=30000, fps_denominator=1001)
  BlankClip(... the same ..., color=$000000)
  Y4MSource(path, length)                  YUV4MPEG2, "-" for standard input;
                                           4:2:0 as YV12, 4:2:2 as YUY2. From a
                                           pipe the length is unknown until the
                                           stream ends; give length= for the
                                           frame number's digit count
  RawSource(path, width, height, pixel_type="YV12", fps, fps_denominator, length)
                                           raw frames as ffmpeg's rawvideo writes
                                           them: bgr24, bgra, yuyv422, yuv420p
  LoadPlugin(path)                         another plug-in (statements are
                                           separated by new lines or ';')
pixel_type: RGB24, RGB32, YUY2, YV12, I420 (or bgr24, bgra, yuyv422, yuv420p).

Options:
  -o, --output PATH   where the frames go:
                        PATH.y4m or -   YUV4MPEG2 (4:2:0, or 4:2:2 for YUY2;
                                        a Y4MSource's rate, field order,
                                        chroma siting and aspect are kept)
                        PATH.png        one frame (--frame N, default 0)
                        PATH%05d.png    one PNG per frame (%d or %0Nd)
                      Without -o, YUV4MPEG2 goes to standard output when it
                      is not a terminal.
  --raw               write raw frames (native packing, lines top-down)
  --frame N           only frame N
  --frames A-B        frames A to B, inclusive (A- : from A to the end)
  --info              print the clip's size, rate, length and pixel type
  --progress          show frames done, speed and time left on standard
                      error (the default when it is a terminal)
  --no-progress       do not
  --plugin PATH       the plug-in to load (default: libtallyburn.so beside
                      the tool, or in ../lib/avisynth)
  -h, --help          this text
  --version           the version

Exit status: 0 success, 1 an error in the script, the input or the output
(one line on standard error), 2 a usage error.

Examples:
  tallyburn -o bars.png --frame 123
  tallyburn 'ColorBars(1920, 1080, "YV12", length=3000).FrameTC(offset=1800, orientation=2).Tallyburn(left=1)' -o out.y4m
  ffmpeg -i in.mp4 -f yuv4mpegpipe - | tallyburn 'Y4MSource("-").FrameTC()' -o - | ffmpeg -f yuv4mpegpipe -i - out.mkv
  tallyburn 'RawSource("in.bgr", 1280, 720, "bgr24", 25).Tallyburn()' --raw -o out.bgr
  tallyburn --info 'Y4MSource("in.y4m")'
)";

class UsageError : public ToolError {
 public:
  using ToolError::ToolError;
};

struct Options {
  std::string script = kDefaultScript;
  bool script_given = false;
  std::string output;
  bool raw = false;
  std::optional<int> first, last;  // frame range, inclusive
  bool single_frame = false;
  bool info = false;
  bool progress = isatty(STDERR_FILENO) != 0;
  std::string plugin;
};

int ParseFrameNumber(const std::string& s, const char* option) {
  size_t used = 0;
  long long v = -1;
  try {
    v = std::stoll(s, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != s.size() || v < 0 || v > INT_MAX)
    throw UsageError(std::string(option) + ": \"" + s + "\" is not a frame number");
  return static_cast<int>(v);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw UsageError(a + " needs a value");
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::cout << kHelp;
      std::exit(0);
    } else if (a == "--version") {
      std::cout << "tallyburn 0.1.0\n";
      std::exit(0);
    } else if (a == "-o" || a == "--output") {
      o.output = value();
    } else if (a == "--raw") {
      o.raw = true;
    } else if (a == "--frame") {
      o.first = o.last = ParseFrameNumber(value(), "--frame");
      o.single_frame = true;
    } else if (a == "--frames") {
      const std::string range = value();
      const size_t dash = range.find('-');
      if (dash == std::string::npos || dash == 0) throw UsageError("--frames takes A-B or A-, not \"" + range + "\"");
      o.first = ParseFrameNumber(range.substr(0, dash), "--frames");
      if (dash + 1 < range.size()) o.last = ParseFrameNumber(range.substr(dash + 1), "--frames");
      if (o.last && *o.last < *o.first) throw UsageError("--frames " + range + ": the range is backwards");
      o.single_frame = false;
    } else if (a == "--info") {
      o.info = true;
    } else if (a == "--progress") {
      o.progress = true;
    } else if (a == "--no-progress") {
      o.progress = false;
    } else if (a == "--plugin") {
      o.plugin = value();
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError("unknown option " + a + " (see --help)");
    } else if (o.script_given) {
      throw UsageError("one SCRIPT only; quote it as one argument");
    } else {
      o.script = a;
      o.script_given = true;
    }
  }
  return o;
}

std::string DefaultPlugin() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  for (const auto& candidate :
       {exe.parent_path() / "libtallyburn.so", exe.parent_path() / "../lib/avisynth/libtallyburn.so"})
    if (std::filesystem::exists(candidate, ec)) return candidate.string();
  return "";
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

const char* PixelTypeName(int t) {
  switch (t) {
    case VideoInfo::CS_BGR24: return "RGB24";
    case VideoInfo::CS_BGR32: return "RGB32";
    case VideoInfo::CS_YUY2: return "YUY2";
    case VideoInfo::CS_YV12: return "YV12";
    case VideoInfo::CS_I420: return "I420";
    default: return "other";
  }
}

void PrintInfo(const VideoInfo& vi, bool unknown_length) {
  char rate[64];
  std::snprintf(rate, sizeof rate, "%u/%u (%.3f fps)", vi.fps_numerator, vi.fps_denominator,
                vi.fps_denominator ? static_cast<double>(vi.fps_numerator) / vi.fps_denominator : 0.0);
  std::cout << "width       " << vi.width << "\n"
            << "height      " << vi.height << "\n"
            << "frame rate  " << rate << "\n"
            << "frames      "
            << (unknown_length ? std::string("unknown (until the stream ends)") : std::to_string(vi.num_frames)) << "\n"
            << "pixel type  " << PixelTypeName(vi.pixel_type) << "\n";
}

class Progress {
 public:
  Progress(bool on, int first, std::optional<int> last) : on_(on), first_(first), last_(last) {}
  void Frame(int n, bool force = false) {
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - shown_ < std::chrono::milliseconds(250)) return;
    shown_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const int done = n - first_ + 1;
    const double fps = seconds > 0 ? done / seconds : 0;
    std::fprintf(stderr, "\rframe %d", done);
    if (last_) std::fprintf(stderr, "/%d", *last_ - first_ + 1);
    std::fprintf(stderr, "  %.1f fps", fps);
    if (last_ && fps > 0) {
      const int left = static_cast<int>((*last_ - n) / fps);
      std::fprintf(stderr, "  %d:%02d left", left / 60, left % 60);
    }
    std::fprintf(stderr, "   ");
    std::fflush(stderr);
    dirty_ = true;
  }
  ~Progress() {
    if (dirty_) std::fprintf(stderr, "\n");
  }

 private:
  bool on_;
  int first_;
  std::optional<int> last_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), shown_{};
  bool dirty_ = false;
};

std::unique_ptr<FrameSink> MakeSink(const Options& o, const VideoInfo& vi) {
  std::string path = o.output;
  if (path.empty()) {
    if (isatty(STDOUT_FILENO)) throw UsageError("no output: give -o PATH (- for standard output), or --info");
    path = "-";
  }
  if (o.raw) return std::make_unique<RawSink>(OutputStream::Open(path), vi);
  if (EndsWith(path, ".png")) {
    if (!HasFramePattern(path) && o.first && o.last != o.first)
      throw UsageError(path + ": one PNG holds one frame: give --frame N, or a %d pattern in the name");
    return std::make_unique<PngSink>(path, vi);
  }
  if (path == "-" || EndsWith(path, ".y4m")) {
    // Checked before the output is opened, so nothing is created for it.
    const std::optional<PixelFormat> f = DescribePixelType(vi.pixel_type);
    if (!f || Y4mColourOf(*f).empty())
      throw ToolError(path + ": a clip in " + (f ? f->name : std::string("this format")) +
                      " cannot be written as YUV4MPEG2: use --raw, or a .png output");
    const std::optional<Y4mTags> keep = TagsOfTheY4mInput();
    return std::make_unique<Y4mSink>(OutputStream::Open(path), vi, keep ? &*keep : nullptr);
  }
  throw UsageError(path + ": cannot tell the output format: name it .y4m, .png or -, or give --raw");
}

int Run(const Options& o) {
  host::Environment env;
  RegisterBuiltins(env);
  const std::string plugin = o.plugin.empty() ? DefaultPlugin() : o.plugin;
  if (!plugin.empty()) env.LoadPlugin(plugin);

  const AVSValue result = EvaluateScript(env, o.script);
  if (!result.IsClip())
    throw ToolError("the script gives " + std::string(host::TypeName(result.Type())) + ", not a clip");
  const PClip clip = result.AsClip();
  const VideoInfo vi = clip->GetVideoInfo();
  const bool unknown = ReadsStreamOfUnknownLength();
  if (o.info) {
    PrintInfo(vi, unknown);
    return 0;
  }

  const bool one_png = EndsWith(o.output, ".png") && !o.raw && !HasFramePattern(o.output);
  const int first = o.first.value_or(0);
  std::optional<int> last = one_png && !o.first ? std::optional<int>(0) : o.last;
  if (!unknown) {
    if (vi.num_frames <= 0) throw ToolError("the clip has no frames");
    if (!last) last = vi.num_frames - 1;
    if (*last >= vi.num_frames || first >= vi.num_frames)
      throw ToolError("frame " + std::to_string(std::max(first, *last)) + " is past the clip's end (it has " +
                      std::to_string(vi.num_frames) + " frames, 0 to " + std::to_string(vi.num_frames - 1) + ")");
  }

  auto sink = MakeSink(o, vi);
  Progress progress(o.progress, first, last);
  int n = first;
  try {
    for (; !last || n <= *last; ++n) {
      PVideoFrame frame;
      try {
        frame = env.FetchFrame(clip, n);
      } catch (const EndOfStream&) {
        break;
      }
      sink->Write(*frame.get(), n);
      progress.Frame(n, last && n == *last);
      if (n == INT_MAX) break;
    }
  } catch (...) {
    // Keep the whole frames that came before the failure.
    try {
      sink->Finish();
    } catch (const ToolError&) {
    }
    throw;
  }
  sink->Finish();
  if ((o.single_frame || one_png) && n == first)
    throw ToolError("frame " + std::to_string(first) + " is past the end of the stream");
  if (const auto* png = dynamic_cast<const PngSink*>(sink.get()))
    for (const std::string& p : png->written()) std::cout << p << "\n";
  return 0;
}

}  // namespace

int RunTool(int argc, char** argv) {
  // A closed output pipe is reported as an error, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return Run(ParseOptions(argc, argv));
  } catch (const UsageError& e) {
    std::cerr << "tallyburn: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "tallyburn: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace tallyburn::tool
