#include "tool/media/outputs.h"

#include <cctype>
#include <cstring>

#include "tool/media/y4m.h"

namespace tallyburn::tool {
namespace {

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
  return true;
}

// Standard output, devices and FIFOs (/dev/null among them) take a
// stream, as a pipe does.
bool ClaimsY4m(const std::string& path) { return path == "-" || EndsWith(path, ".y4m") || !IsRegularOrNew(path); }
bool ClaimsPng(const std::string& path) { return EndsWith(path, ".png"); }
bool ClaimsMedia(const std::string& path) { return path != "-" && IsRegularOrNew(path) && IsMediaPath(path); }

std::unique_ptr<FrameSink> OpenY4m(const OutputPlan& plan, const OutputRun& run) {
  // Checked before the output is opened, so nothing is created for it.
  const std::optional<PixelFormat> f = DescribePixelType(run.vi.pixel_type);
  if (!f || Y4mColourOf(*f).empty())
    throw ToolError(plan.path + ": a clip in " + (f ? f->name : std::string("this format")) +
                    " cannot be written as YUV4MPEG2: use --raw, a .png output or a media file");
  RefuseInput(run.inputs, plan.path);
  return std::make_unique<Y4mSink>(OutputStream::Open(plan.path), run.vi, run.y4m ? &*run.y4m : nullptr);
}

std::unique_ptr<FrameSink> OpenRaw(const OutputPlan& plan, const OutputRun& run) {
  RefuseInput(run.inputs, plan.path);
  return std::make_unique<RawSink>(OutputStream::Open(plan.path), run.vi);
}

std::unique_ptr<FrameSink> OpenPng(const OutputPlan& plan, const OutputRun& run) {
  const InputFiles& inputs = run.inputs;
  // A sequence that could name an input is refused before its first picture.
  if (plan.pattern.present()) RefuseInput(inputs, plan.path);
  return std::make_unique<PngSink>(plan.path, plan.pattern, run.vi,
                                   [&inputs](const std::string& name) { RefuseInput(inputs, name); });
}

MediaRun MediaRunOf(const OutputRun& run) {
  return MediaRun{run.first_frame, run.frames, run.media, run.y4m, run.sound};
}

std::unique_ptr<FrameSink> OpenMedia(const OutputPlan& plan, const OutputRun& run) {
  RefuseInput(run.inputs, plan.path);
  return OpenMediaSink(*plan.media, run.vi, MediaRunOf(run));
}

std::string DescribeY4m(const OutputPlan& plan, const OutputRun&) {
  return "YUV4MPEG2 to " + std::string(plan.path == "-" ? "standard output" : plan.path);
}
std::string DescribeRaw(const OutputPlan& plan, const OutputRun&) { return "raw frames to " + plan.path; }
std::string DescribePng(const OutputPlan& plan, const OutputRun&) {
  return std::string(plan.pattern.present() ? "one PNG per frame, " : "one PNG, ") + plan.path;
}
std::string DescribeMedia(const OutputPlan& plan, const OutputRun& run) {
  return plan.path + ": " + DescribeMediaOutput(*plan.media, run.vi, MediaRunOf(run));
}

// Every output, in the order a path is tried against them: a stream name
// first, so that a device or FIFO takes YUV4MPEG2 whatever it is called.
constexpr OutputType kOutputs[] = {
    {"y4m", OutputKind::kStream, "PATH.y4m, -, a device or FIFO",
     "YUV4MPEG2 in the clip's colour space (a Y4MSource's rate, field order, chroma siting, aspect and X tags kept); "
     "YUV and grey, 8 to 16 bits",
     ClaimsY4m, OpenY4m, DescribeY4m},
    {"raw", OutputKind::kStream, "--raw, any PATH or -",
     "raw frames in their native packing, lines top-down; every format without alpha planes", nullptr, OpenRaw,
     DescribeRaw},
    {"png", OutputKind::kPictures, "PATH.png (--frame N), PATH%05d.png (%d or %0Nd: one per frame)",
     "every format, as 8-bit RGB (16-bit for deeper RGB)", ClaimsPng, OpenPng, DescribePng},
    {"media", OutputKind::kContainer, "PATH.mp4, .mov, .mkv, .mxf, .avi, .ts, ... (a file, not a pipe)",
     "every format an encoder of FFmpeg takes, converted where it takes none of the clip's; --codec NAME "
     "(default: libx264 for MP4 and MKV, ProRes 422 HQ for MOV, MPEG-2 for MXF), --codec-options \"k=v:k=v\"; "
     "the one MediaSource's sound and timecode kept",
     ClaimsMedia, OpenMedia, DescribeMedia},
};

const OutputType& Named(const char* name) {
  for (const OutputType& t : kOutputs)
    if (std::strcmp(t.name, name) == 0) return t;
  throw ToolError(std::string("no output named ") + name);
}

}  // namespace

bool OutputPlan::one_picture() const { return type->kind == OutputKind::kPictures && !pattern.present(); }

std::span<const OutputType> OutputTypes() { return kOutputs; }

OutputPlan PlanOutput(const std::string& path, const char* by_name, const std::string& codec,
                      const std::string& codec_options, const std::string& audio_codec) {
  OutputPlan plan;
  plan.path = path;
  if (by_name != nullptr) {
    plan.type = &Named(by_name);
    if (ClaimsPng(path) && plan.type->kind != OutputKind::kPictures)
      throw UsageError(std::string("--") + by_name + " and the .png output " + path + " clash: give one of them");
  } else {
    for (const OutputType& t : kOutputs)
      if (t.claims != nullptr && t.claims(path)) {
        plan.type = &t;
        break;
      }
  }
  if (plan.type == nullptr)
    throw UsageError(path +
                     ": cannot tell the output format: name it .y4m, .png, a media file (.mp4, .mov, .mkv, "
                     ".mxf, ...) or -, or give --raw");
  if (plan.type->kind != OutputKind::kContainer && (!codec.empty() || !codec_options.empty() || !audio_codec.empty()))
    throw UsageError(
        "--codec, --codec-options and --audio-codec are for a media file (.mp4, .mov, .mkv, .mxf, ...), not " +
        std::string(path == "-" ? "standard output" : path));
  if (plan.type->kind == OutputKind::kPictures) plan.pattern = FramePattern::Parse(path);
  if (plan.type->kind == OutputKind::kContainer)
    plan.media = CheckMediaSettings(path, codec, codec_options, audio_codec);
  return plan;
}

namespace {

// Words of `text` in lines of at most 78 columns, the first after
// `first`, the rest after `indent`.
std::string Wrapped(const std::string& first, const std::string& indent, const char* text) {
  std::string out, line = first;
  bool fresh = true;
  for (const char* p = text; *p != '\0';) {
    const char* space = std::strchr(p, ' ');
    const std::string word = space != nullptr ? std::string(p, space) : std::string(p);
    if (!fresh && line.size() + 1 + word.size() > 78) {
      out += line + "\n";
      line = indent;
      fresh = true;
    }
    line += (fresh ? "" : " ") + word;
    fresh = false;
    p = space != nullptr ? space + 1 : p + word.size();
  }
  return out + line + "\n";
}

}  // namespace

std::string OutputHelp() {
  std::string text;
  for (const OutputType& t : kOutputs) {
    const std::string head = "                        " + std::string(t.name) + ": ";
    text += Wrapped(head, "                          ", t.names);
    text += Wrapped("                          ", "                          ", t.accepts);
  }
  return text;
}

}  // namespace tallyburn::tool
