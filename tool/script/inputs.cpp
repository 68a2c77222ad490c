#include "tool/script/inputs.h"

#include <cstring>
#include <vector>

#include "core/pixel_format.h"
#include "tool/media/media_input.h"
#include "tool/media/y4m.h"
#include "tool/script/source_support.h"

namespace tallyburn::tool {
namespace {

// YUV4MPEG2 pictures in order, for verify: the luma plane read into one
// buffer, the chroma after it read or passed over.
class Y4mPictures final : public PictureReader {
 public:
  explicit Y4mPictures(std::unique_ptr<InputStream> in) : in_(std::move(in)), header_(ReadY4mHeader(*in_)) {
    vi_ = Y4mVideoInfo(header_);
    vi_.num_frames = 0;
    format_ = *DescribePixelType(header_.pixel_type);
    // The stream holds 8-bit 4:2:2 as planes, whatever the clip makes of it.
    if (format_.family == Family::kYuy2) {
      format_ = *FindPixelFormat(Family::kPlanarYuv, 8, 1, 0);
      vi_.pixel_type = format_.pixel_type;
    }
    const size_t bytes = static_cast<size_t>(format_.bytes_per_sample);
    luma_.resize(static_cast<size_t>(header_.width) * static_cast<size_t>(header_.height) * bytes);
    rest_ = Y4mFrameBytes(header_) - luma_.size();
    const PlaneSize luma = PlaneSizeOf(format_, header_.width, header_.height, 0);
    picture_.planes[0] = {luma_.data(), luma.row_bytes, luma.row_bytes, luma.height};
  }

  const VideoInfo& info() const override { return vi_; }
  const std::string& name() const override { return in_->name(); }

  const Picture* Next(bool luma_only) override {
    picture_.damage.clear();
    if (!header_read_) {
      try {
        if (!ReadY4mFrameHeader(*in_, n_)) return nullptr;
      } catch (const ToolError&) {
        // The frame is lost with its header; the next is read from its own.
        // A stream that ends before another header ends inside this frame.
        if (!SkipToY4mFrame(*in_))
          throw InputCut(in_->name() + ": damaged FRAME header at frame " + std::to_string(n_));
        header_read_ = true;
        picture_.damage = "damaged FRAME header";
        picture_.time = TimeOf(n_++);
        return &picture_;
      }
    }
    header_read_ = false;
    const size_t got = in_->Read(luma_.data(), luma_.size());
    size_t rest = 0;
    if (got == luma_.size()) {
      if (luma_only) {
        rest = in_->Skip(rest_);
      } else {
        chroma_.resize(rest_);
        rest = in_->Read(chroma_.data(), rest_);
      }
    }
    if (got < luma_.size() || rest < rest_)
      throw InputCut(TruncatedFrame(in_->name(), n_, got + rest, luma_.size() + rest_).what());
    picture_.count = 1;
    if (!luma_only && rest_ > 0) {
      const uint8_t* at = chroma_.data();
      for (int k = 1; k < 3; ++k) {
        const PlaneSize p = PlaneSizeOf(format_, header_.width, header_.height, k);
        picture_.planes[k] = {at, p.row_bytes, p.row_bytes, p.height};
        at += static_cast<ptrdiff_t>(p.row_bytes) * p.height;
      }
      picture_.count = 3;
    }
    picture_.time = TimeOf(n_++);
    return &picture_;
  }

 private:
  std::unique_ptr<InputStream> in_;
  Y4mHeader header_;
  VideoInfo vi_{};
  PixelFormat format_{};
  std::vector<uint8_t> luma_, chroma_;
  size_t rest_ = 0;
  double TimeOf(int n) const {
    return header_.fps_numerator ? static_cast<double>(n) * header_.fps_denominator / header_.fps_numerator : 0;
  }

  Picture picture_;
  int n_ = 0;
  bool header_read_ = false;  // the next frame's header was read finding it
};

bool IsY4m(std::string_view head) { return head.starts_with("YUV4MPEG2 "); }
bool AnyFile(std::string_view) { return true; }

std::unique_ptr<PictureReader> OpenY4m(const std::string& path) { return OpenY4mPictures(InputStream::Open(path)); }
std::unique_ptr<PictureReader> OpenMedia(const std::string& path) {
  // A delivered file may have gaps where frames were dropped: its frames
  // are read as they come, each with its own time.
  MediaOptions options;
  options.any_spacing = true;
  return MediaInput::Open(path, options);
}

// In the order they are tried: a header first, FFmpeg for the rest.
constexpr InputKind kInputs[] = {
    {"YUV4MPEG2", "Y4MSource(path, length)",
     "YUV4MPEG2, \"-\" for standard input:\n4:2:0, 4:2:2, 4:4:4, 4:1:1, mono, 8 to\n16 bits. From a pipe the length "
     "is\n"
     "unknown until the stream ends; give\nlength= for the frame number's digits",
     "by its header (YUV4MPEG2), and standard input", IsY4m, RegisterY4mSource, OpenY4m},
    {"raw", "RawSource(path, width, height, pixel_type=\"YV12\", fps, fps_denominator, length)",
     "raw frames as ffmpeg's rawvideo writes\nthem, by ffmpeg's name (bgr24,\nyuv422p10le, gbrp16le, ...) or the\n"
     "host's (YV12, YUV422P10, RGBP16, ...)",
     nullptr, nullptr, RegisterRawSource, nullptr},
    {"media", "MediaSource(path, track=0, fps_num=0, fps_den=0)",
     "any file FFmpeg's libraries open: MOV,\nMP4, MKV, MXF, AVI, TS, Y4M, pictures\n(img%03d.png); its track-th "
     "video\n"
     "stream, frame n the n-th shown, read\nin any order; as decoded where a host\nformat matches, else converted to "
     "one\n"
     "that holds every sample (--info says\nwhich); fps_num/fps_den: number frames\nat that rate",
     "every other file, through FFmpeg's libraries", AnyFile, RegisterMediaSource, OpenMedia},
};

// Help lines: the signature, then the text in a column of its own.
void AddLines(std::string& out, const char* left, const char* text) {
  constexpr size_t kColumn = 43;
  std::string first = std::string("  ") + left;
  if (first.size() + 1 > kColumn) {
    out += first + "\n";
    first.clear();
  }
  first.resize(kColumn, ' ');
  const char* line = text;
  for (bool head = true; *line != '\0'; head = false) {
    const char* end = std::strchr(line, '\n');
    const size_t n = end ? static_cast<size_t>(end - line) : std::strlen(line);
    out += (head ? first : std::string(kColumn, ' ')) + std::string(line, n) + "\n";
    line += n + (end ? 1 : 0);
  }
}

}  // namespace

std::span<const InputKind> InputKinds() { return kInputs; }

std::unique_ptr<PictureReader> OpenY4mPictures(std::unique_ptr<InputStream> in) {
  return std::make_unique<Y4mPictures>(std::move(in));
}

std::unique_ptr<PictureReader> OpenPictures(const std::string& path) {
  if (path == "-") return OpenY4m(path);
  std::string head(16, '\0');
  if (path.find('%') != std::string::npos && !FileAt(path)) {
    head.clear();  // a numbered sequence of pictures: FFmpeg's
  } else {
    const auto in = InputStream::Open(path);
    head.resize(in->ReadAt(0, reinterpret_cast<uint8_t*>(head.data()), head.size()));
  }
  for (const InputKind& kind : kInputs)
    if (kind.claims != nullptr && kind.open != nullptr && kind.claims(head)) return kind.open(path);
  throw ToolError(path + ": no input reads it");
}

std::string SourcesHelp() {
  std::string out;
  for (const InputKind& kind : kInputs) AddLines(out, kind.signature, kind.help);
  return out;
}

std::string VerifyInputsHelp() {
  std::string out;
  for (const InputKind& kind : kInputs)
    if (kind.chosen != nullptr) out += std::string("  ") + kind.name + ": " + kind.chosen + "\n";
  return out;
}

}  // namespace tallyburn::tool
