#include "tool/cli/render_command.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "core/message.h"
#include "frameserver/environment.h"
#include "tool/cli/help.h"
#include "tool/cli/options.h"
#include "tool/media/io.h"
#include "tool/media/media_timecode.h"
#include "tool/media/outputs.h"
#include "tool/media/sinks.h"
#include "tool/script/script.h"
#include "tool/script/sources.h"

namespace tallyburn::tool {
namespace {

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
OutputPlan PlanOutputOf(const RenderOptions& o) {
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
ScriptSource LoadScript(const RenderOptions& o) {
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

int Run(const RenderOptions& o) {
  if (o.help) {
    std::cout << RenderHelp();
    return 0;
  }
  if (o.version) {
    std::cout << "tallyburn 0.1.0\n";
    return 0;
  }
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
    if (vi.num_frames <= 0) {
      // A file cut inside its first frame says so, as from a pipe.
      context.CheckStreamEnds(&env);
      throw ToolError(PastTheEnd(first, 0));
    }
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

int RunRender(int argc, char** argv) {
  try {
    return Run(ParseRenderOptions(argc, argv));
  } catch (const UsageError& e) {
    std::cerr << "tallyburn: " << Printable(e.what()) << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "tallyburn: " << Printable(e.what()) << "\n";
    return 1;
  }
}

}  // namespace tallyburn::tool
