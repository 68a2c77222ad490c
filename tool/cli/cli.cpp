#include "tool/cli/cli.h"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "frameserver/environment.h"
#include "tool/cli/verify_command.h"
#include "tool/media/io.h"
#include "tool/media/media_timecode.h"
#include "tool/media/outputs.h"
#include "tool/media/sinks.h"
#include "tool/script/inputs.h"
#include "tool/script/script.h"
#include "tool/script/sources.h"

namespace tallyburn::tool {
namespace {

constexpr const char* kDefaultScript = "ColorBars().FrameTC(orientation=2).Tallyburn()";

constexpr const char* kHelpHead = R"(usage: tallyburn [options] [SCRIPT | SCRIPT-FILE]
       tallyburn verify [options] [INPUT]    (see tallyburn verify --help)

Burns frame numbers and timecodes into video with the filters of
libtallyburn.so, loaded the way a frame server loads it.

SCRIPT is a script in the frame server's syntax, given as one argument or
as the name of a file that holds it (such as in.avs): calls chained with a
dot, arguments by position or by name (integers, floats, "strings",
true/false), statements on lines or separated by ';', # comments,
variables (clip = Y4MSource("in.y4m")), and the implicit last: a bare clip
sets it, a filter called without a clip takes it, and the script's value
is the last clip. Without SCRIPT the tool renders
  ColorBars().FrameTC(orientation=2).Tallyburn()

Filters (from the plug-in):
  TallyTC(clip, start="00:00:00:00", rate="", drop=auto, scale=0, align=2, margin=0)
                                           SMPTE timecode at any broadcast rate
  TallyFrame(clip, start=0, digits=0, scale=0, align=3, margin=0)
                                           frame number
  Tallyburn(clip, offset=0, left=0)        frame number, bottom right (left=1: left)
  FrameTC(clip, offset=0, orientation=0, y=0)
                                           HH:MM:SS:FF box; orientation 0 right,
                                           1 left, 2 centre; y rows above the bottom
Sources (built in):
  ColorBars(width=640, height=480, pixel_type="YV12", length=300,
            fps=30000, fps_denominator=1001)
  BlankClip(... the same ..., color=$000000)
)";

// The sources of the table of inputs (tool/script/inputs.cpp) come between.
constexpr const char* kHelpTail = R"(
  SourceTimecode(path)                     a media file's start timecode, as a
                                           label ("01:00:00;00"): its timecode
                                           track, MXF's or its timecode tag
  LoadPlugin(path)                         another plug-in (statements are
                                           separated by new lines or ';')
ColorBars and BlankClip pixel_type: RGB24, RGB32, YUY2, YV12, I420 (or bgr24,
bgra, yuyv422, yuv420p).

Options:
  -o, --output PATH   where the frames go, by name or by the path:
)";

// After the table of outputs.
constexpr const char* kHelpAfterOutputs = R"(                      Extensions in any case. Without -o, YUV4MPEG2 goes to
                      standard output when it is not a terminal. A file is
                      written beside its place and replaces it only when
                      the run succeeds; an output that is also an input is
                      refused.
  --codec NAME        a media file's video encoder (ffmpeg -encoders lists
                      them: libx264, libx265, prores_ks, ffv1, dnxhd, ...)
  --codec-options S   the encoder's own options, "key=value:key=value"
                      (ffmpeg -h encoder=NAME lists them), such as
                      "crf=18:preset=fast" for libx264
  --audio-codec NAME  the sound encoder of a clip that makes its own sound
                      (TallySync): PCM in MOV, MKV and most others, aac in
                      MP4 unless given; otherwise the source's sound is kept
  --raw               write raw frames (native packing, lines top-down)
  --frame N           only frame N
  --frames A-B        frames A to B, inclusive (A- : from A to the end);
                      not with --frame
  --info              print the clip's size, rate, whole frames and pixel
                      type (from a pipe, after reading it to its end), a
                      media source's timecode and, with -o, what the
                      output would be
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
  tallyburn dailies.avs -o out.y4m
  tallyburn 'ColorBars(1280, 720).TallyTC()' -o bars.mp4 --codec libx264 --codec-options crf=18:preset=fast
)";

struct Options {
  std::string script = kDefaultScript;
  bool script_given = false;
  std::string output;
  bool raw = false;
  std::optional<int> first, last;  // frame range, inclusive
  bool single_frame = false;
  bool range_given = false;
  bool info = false;
  bool progress = isatty(STDERR_FILENO) != 0;
  std::string plugin;
  std::string codec, codec_options, audio_codec;
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
      std::cout << kHelpHead << SourcesHelp() << (kHelpTail + 1) << OutputHelp() << kHelpAfterOutputs;
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
      o.range_given = true;
    } else if (a == "--info") {
      o.info = true;
    } else if (a == "--progress") {
      o.progress = true;
    } else if (a == "--no-progress") {
      o.progress = false;
    } else if (a == "--codec") {
      o.codec = value();
      if (o.codec.empty()) throw UsageError("--codec needs an encoder's name");
    } else if (a == "--codec-options") {
      o.codec_options = value();
    } else if (a == "--audio-codec") {
      o.audio_codec = value();
      if (o.audio_codec.empty()) throw UsageError("--audio-codec needs an encoder's name");
    } else if (a == "--plugin") {
      o.plugin = value();
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError("unknown option " + a + " (see --help)");
    } else if (!o.script_given && a == "verify") {
      // Reached only after an option: the subcommand's options follow it.
      throw UsageError("verify comes first: tallyburn verify [options] [INPUT] (options before it are not verify's)");
    } else if (o.script_given) {
      throw UsageError("one SCRIPT only; quote it as one argument");
    } else {
      o.script = a;
      o.script_given = true;
    }
  }
  if (o.single_frame && o.range_given) throw UsageError("--frame and --frames clash: give one of them");
  return o;
}

// The plug-in beside the tool, or in ../lib/avisynth as installed; says
// where it looked in `searched`.
std::string DefaultPlugin(std::string* searched) {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    *searched = "the tool cannot tell where it is";
    return "";
  }
  const std::filesystem::path candidates[] = {exe.parent_path() / "libtallyburn.so",
                                              exe.parent_path() / "../lib/avisynth/libtallyburn.so"};
  for (const auto& candidate : candidates)
    if (std::filesystem::exists(candidate, ec)) return candidate.string();
  *searched = "no plug-in is loaded: looked for " + candidates[0].lexically_normal().string() + " and " +
              candidates[1].lexically_normal().string() + "; give --plugin PATH";
  return "";
}

// Where the frames go: chosen once from the command line, before the
// script runs, so that a bad output name, codec or option costs nothing.
OutputPlan PlanOutputOf(const Options& o) {
  std::string path = o.output;
  if (path.empty()) {
    if (o.info) return PlanOutput("-", o.raw ? "raw" : nullptr, o.codec, o.codec_options, o.audio_codec);
    if (isatty(STDOUT_FILENO)) throw UsageError("no output: give -o PATH (- for standard output), or --info");
    path = "-";
  }
  OutputPlan plan = PlanOutput(path, o.raw ? "raw" : nullptr, o.codec, o.codec_options, o.audio_codec);
  if (plan.one_picture() && o.range_given && o.last != o.first)
    throw UsageError(path + ": one PNG holds one frame: give --frame N, or a %d pattern in the name");
  return plan;
}

// `first` and `count`: the frames the run would write, for the output's line.
void PrintInfo(const VideoInfo& vi, int frames, const ToolContext& context, const OutputPlan* output, int first,
               int count) {
  char rate[64];
  std::snprintf(rate, sizeof rate, "%u/%u (%.3f fps)", vi.fps_numerator, vi.fps_denominator,
                vi.fps_denominator ? static_cast<double>(vi.fps_numerator) / vi.fps_denominator : 0.0);
  const std::optional<PixelFormat> f = DescribePixelType(vi.pixel_type);
  std::cout << "width       " << vi.width << "\n"
            << "height      " << vi.height << "\n"
            << "frame rate  " << rate << "\n"
            << "frames      " << frames << "\n"
            << "pixel type  " << (f ? f->name : "other") << "\n";
  for (const std::string& line : context.descriptions()) std::cout << "input       " << line << "\n";
  if (const std::optional<ToolContext::MediaOrigin> media = context.MediaToKeep()) {
    // A file without a timecode says nothing here.
    if (const std::optional<StartTimecode> tc = ReadStartTimecode(media->path, media->stream_index))
      std::cout << "timecode    " << tc->label << "\n";
  }
  if (output != nullptr)
    std::cout << "output      "
              << output->type->describe(
                     *output, {vi, context.files(), context.MediaToKeep(), context.Y4mTagsToKeep(), first, count, {}})
              << "\n";
}

class Progress {
 public:
  Progress(bool on, int first, std::optional<int> last) : on_(on), first_(first), last_(last) {}
  void Frame(int n, bool force = false) {
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - shown_ < std::chrono::milliseconds(250)) {
      pending_ = n;
      return;
    }
    pending_ = -1;
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
  // The last line shows the true count, however the run ended.
  ~Progress() {
    if (pending_ >= 0) Frame(pending_, true);
    if (dirty_) std::fprintf(stderr, "\n");
  }

 private:
  bool on_;
  int first_;
  std::optional<int> last_;
  int pending_ = -1;  // a frame done since the line was drawn, or -1
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), shown_{};
  bool dirty_ = false;
};

std::string PastTheEnd(int frame, int frames) {
  if (frames == 0) return "the clip has no frames";
  return "frame " + std::to_string(frame) + " is past the clip's end (it has " + std::to_string(frames) +
         " frames, 0 to " + std::to_string(frames - 1) + ")";
}

// SCRIPT may name a file that holds the script.
ScriptSource LoadScript(const Options& o) {
  std::error_code ec;
  if (o.script_given && std::filesystem::is_regular_file(o.script, ec)) {
    std::ifstream in(o.script, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) throw ToolError(o.script + ": cannot read the script");
    return ScriptSource{text.str(), o.script, ""};
  }
  return ScriptSource{o.script, "script", ""};
}

// --info from a stream of unknown length: its whole frames, read to its end.
int CountToTheEnd(frameserver::Environment& env, const PClip& clip) {
  int n = 0;
  try {
    for (; n < INT_MAX; ++n) env.FetchFrame(clip, n);
  } catch (const EndOfStream& end) {
    return end.frames;
  } catch (const TruncatedFrame&) {
  }
  return n;
}

int Run(const Options& o) {
  const OutputPlan plan = PlanOutputOf(o);
  ScriptSource script = LoadScript(o);

  // The tool's frames are tight: each plane's lines follow each other, so a
  // plane goes between a file and a frame in one read or write. Guard bytes
  // stay around the planes: they cost a few bytes a plane, and a plug-in
  // that writes outside the picture is caught here as in the tests.
  frameserver::Environment env(frameserver::FrameLayout{.tight = true});
  ToolContext context;
  RegisterBuiltins(env, context);
  const std::string plugin = o.plugin.empty() ? DefaultPlugin(&script.missing_function_hint) : o.plugin;
  if (!plugin.empty()) env.LoadPlugin(plugin);

  const AVSValue result = EvaluateScript(env, script);
  if (!result.IsClip())
    throw ToolError("the script gives " + std::string(frameserver::TypeName(result.Type())) + ", not a clip");
  const PClip clip = result.AsClip();
  const VideoInfo vi = clip->GetVideoInfo();
  const bool unknown = context.ReadsStreamOfUnknownLength();
  if (o.info) {
    const int frames = unknown ? CountToTheEnd(env, clip) : vi.num_frames;
    const int first = o.first.value_or(0);
    const int count = std::max(0, (o.last ? std::min(*o.last, frames - 1) : frames - 1) - first + 1);
    PrintInfo(vi, frames, context, o.output.empty() ? nullptr : &plan, first, count);
    return 0;
  }

  const int first = o.first.value_or(0);
  std::optional<int> last = plan.one_picture() && !o.first ? std::optional<int>(0) : o.last;
  if (!unknown) {
    if (vi.num_frames <= 0) throw ToolError(PastTheEnd(first, 0));
    if (!last) last = vi.num_frames - 1;
    if (*last >= vi.num_frames || first >= vi.num_frames)
      throw ToolError(PastTheEnd(std::max(first, *last), vi.num_frames));
  }

  // A stream of unknown length says nothing of how many will come.
  const int frames = last ? *last - first + 1 : 0;
  SoundReader sound;
  if (vi.HasAudio())
    sound = [&env, &clip](void* buffer, int64_t start, int64_t count) { clip->GetAudio(buffer, start, count, &env); };
  auto sink = plan.type->open(
      plan, {vi, context.files(), context.MediaToKeep(), context.Y4mTagsToKeep(), first, frames, sound});
  int n = first;
  try {
    Progress progress(o.progress, first, last);
    for (; !last || n <= *last; ++n) {
      PVideoFrame frame;
      try {
        frame = env.FetchFrame(clip, n);
      } catch (const EndOfStream& end) {
        // A stream of unknown length ended: fine after the first frame of
        // an open range, as a file's length would have told.
        if (n == first || last) throw ToolError(PastTheEnd(last ? *last : first, end.frames));
        break;
      }
      sink->Write(*frame.get(), n);
      progress.Frame(n, last && n == *last);
      if (n == INT_MAX) break;
    }
    // Read to the clip's end: a file cut inside a frame after it fails as
    // the same stream from a pipe does.
    if (!unknown && *last == vi.num_frames - 1) context.CheckStreamEnds(&env);
    // The last frames go out here: a write that fails now is a failed run too.
    sink->Finish();
  } catch (...) {
    try {
      sink->Abandon();
    } catch (const ToolError&) {
    }
    throw;
  }
  if (const auto* png = dynamic_cast<const PngSink*>(sink.get()))
    for (const std::string& p : png->written()) std::cout << p << "\n";
  return 0;
}

}  // namespace

int RunTool(int argc, char** argv) {
  // A closed output pipe is reported as an error, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  if (argc > 1 && std::string(argv[1]) == "verify") return RunVerify(argc - 1, argv + 1);
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
