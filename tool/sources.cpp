#include "tool/sources.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "tool/io.h"
#include "tool/raw_formats.h"
#include "tool/y4m.h"

namespace tallyburn::tool {
namespace {

using host::Environment;

int unknown_length_streams = 0;            // live sources reading a stream of unknown length
std::vector<const Y4mHeader*> y4m_inputs;  // headers of the live Y4M sources

Environment& Host(IScriptEnvironment* env) { return *static_cast<Environment*>(env); }

// Base of the tool's sources: fixed VideoInfo, silent, progressive.
class ToolSource : public IClip {
 public:
  explicit ToolSource(const VideoInfo& vi) : vi_(vi) {}
  bool __stdcall GetParity(int) override { return vi_.IsTFF(); }
  void __stdcall GetAudio(void*, int64, int64, IScriptEnvironment*) override {}
  int __stdcall SetCacheHints(int, int) override { return 0; }
  const VideoInfo& __stdcall GetVideoInfo() override { return vi_; }

 protected:
  VideoInfo vi_;
};

struct Yuv {
  uint8_t y, u, v;
};

// BT.601, studio range.
Yuv ToYuv(int r, int g, int b) {
  const auto clamp = [](double v) { return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v)))); };
  return {clamp(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255),
          clamp(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255),
          clamp(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255)};
}

// A picture rendered once, on the first frame asked for, and copied into
// every frame: colour bars over a grey ramp, or one colour for BlankClip.
class PatternClip final : public ToolSource {
 public:
  PatternClip(const VideoInfo& vi, bool bars, int rgb) : ToolSource(vi), bars_(bars), rgb_(rgb) {}

  PVideoFrame __stdcall GetFrame(int, IScriptEnvironment* env) override {
    if (planes_.empty()) Render();
    PVideoFrame frame = env->NewVideoFrame(vi_);
    for (const Plane& p : planes_)
      env->BitBlt(frame->GetWritePtr(p.id), frame->GetPitch(p.id), p.bytes.data(), p.row, p.row, p.height);
    return frame;
  }

 private:
  struct Plane {
    int id;
    int row;
    int height;
    std::vector<uint8_t> bytes;
  };

  // The colour at (x, y), y counted from the top, as 0xRRGGBB.
  int Colour(int x, int y) const {
    static constexpr int kBars[7] = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00, 0xBF00BF, 0xBF0000, 0x0000BF};
    if (!bars_) return rgb_;
    if (y < vi_.height * 2 / 3) return kBars[std::min(6, x * 7 / vi_.width)];
    const int level = x * 255 / std::max(1, vi_.width - 1);
    return level << 16 | level << 8 | level;
  }
  Yuv YuvAt(int x, int y) const {
    const int c = Colour(x, y);
    return ToYuv(c >> 16 & 255, c >> 8 & 255, c & 255);
  }

  void Render() {
    const int w = vi_.width, h = vi_.height;
    planes_.reserve(3);  // the references below stay valid
    switch (vi_.pixel_type) {
      case VideoInfo::CS_BGR24:
      case VideoInfo::CS_BGR32: {
        const int bpp = vi_.pixel_type == VideoInfo::CS_BGR24 ? 3 : 4;
        Plane& p = planes_.emplace_back(Plane{PLANAR_Y, w * bpp, h, {}});
        p.bytes.reserve(static_cast<size_t>(w) * bpp * h);
        for (int line = 0; line < h; ++line)  // the bottom line first
          for (int x = 0; x < w; ++x) {
            const int c = Colour(x, h - 1 - line);
            const uint8_t px[4] = {uint8_t(c & 255), uint8_t(c >> 8 & 255), uint8_t(c >> 16 & 255), 255};
            p.bytes.insert(p.bytes.end(), px, px + bpp);
          }
        break;
      }
      case VideoInfo::CS_YUY2: {
        Plane& p = planes_.emplace_back(Plane{PLANAR_Y, w * 2, h, {}});
        p.bytes.reserve(static_cast<size_t>(w) * 2 * h);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; x += 2) {
            const Yuv a = YuvAt(x, y), b = YuvAt(x + 1, y);
            const uint8_t px[4] = {a.y, a.u, b.y, a.v};
            p.bytes.insert(p.bytes.end(), px, px + 4);
          }
        break;
      }
      default: {  // YV12, I420: chroma from each 2x2 block's top-left pixel
        Plane& luma = planes_.emplace_back(Plane{PLANAR_Y, w, h, {}});
        Plane& u = planes_.emplace_back(Plane{PLANAR_U, w / 2, h / 2, {}});
        Plane& v = planes_.emplace_back(Plane{PLANAR_V, w / 2, h / 2, {}});
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const Yuv c = YuvAt(x, y);
            luma.bytes.push_back(c.y);
            if (y % 2 == 0 && x % 2 == 0) {
              u.bytes.push_back(c.u);
              v.bytes.push_back(c.v);
            }
          }
      }
    }
  }

  bool bars_;
  int rgb_;
  std::vector<Plane> planes_;
};

// Reads frames in order from a stream. It keeps no frame, so each one it
// hands out is exclusive and the filters draw into it without a copy.
// How a stream source knows its length. Only a stated one makes an early
// clean end an error: a size-based count is an upper bound (FRAME lines may
// carry parameters), and a pipe's length is known only at its end.
enum class Length { kStated, kFromSize, kUnknown };

class StreamClip : public ToolSource {
 public:
  StreamClip(const VideoInfo& vi, std::unique_ptr<InputStream> in, Length length)
      : ToolSource(vi), in_(std::move(in)), length_(length) {
    if (length_ == Length::kUnknown) ++unknown_length_streams;
  }
  ~StreamClip() override {
    if (length_ == Length::kUnknown) --unknown_length_streams;
  }

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override {
    if (n < next_)
      throw ToolError(in_->name() + ": frames are read in order: frame " + std::to_string(n) +
                      " asked for after frame " + std::to_string(next_ - 1));
    PVideoFrame frame = env->NewVideoFrame(vi_);
    while (next_ <= n) {  // frames before n are read and dropped
      if (!ReadOne(next_, *frame.get())) {
        if (length_ != Length::kStated) throw EndOfStream{next_};
        throw ToolError(in_->name() + ": the stream ends after " + std::to_string(next_) + " of " +
                        std::to_string(vi_.num_frames) + " frames");
      }
      ++next_;
    }
    return frame;
  }

 protected:
  // Reads frame n into `frame`; false at a clean end of the stream.
  virtual bool ReadOne(int n, VideoFrame& frame) = 0;

  std::unique_ptr<InputStream> in_;
  std::vector<uint8_t> scratch_;

 private:
  Length length_;
  int next_ = 0;
};

class Y4mClip final : public StreamClip {
 public:
  Y4mClip(const VideoInfo& vi, std::unique_ptr<InputStream> in, const Y4mHeader& h, Length length)
      : StreamClip(vi, std::move(in), length), header_(h) {
    if (h.pixel_type == VideoInfo::CS_YUY2) scratch_.resize(Y4mFrameBytes(h));
    y4m_inputs.push_back(&header_);
  }
  ~Y4mClip() override { y4m_inputs.erase(std::find(y4m_inputs.begin(), y4m_inputs.end(), &header_)); }

 private:
  bool ReadOne(int n, VideoFrame& frame) override {
    if (!ReadY4mFrameHeader(*in_, n)) return false;
    ReadY4mPlanes(*in_, header_, n, frame, scratch_);
    return true;
  }

  Y4mHeader header_;
};

// Raw frames as ffmpeg's rawvideo writes them: lines top-down, planes in
// Y, U, V order for yuv420p.
class RawClip final : public StreamClip {
 public:
  RawClip(const VideoInfo& vi, std::unique_ptr<InputStream> in, Length length)
      : StreamClip(vi, std::move(in), length) {}

 private:
  bool ReadOne(int n, VideoFrame& frame) override {
    const PixelFormat f = *DescribePixelType(vi_.pixel_type);
    const size_t want = RawFrameBytes(f, vi_.width, vi_.height);
    size_t got = 0;
    for (int k = 0; k < SlotPlanes(f); ++k) {
      const int plane = kSlotPlaneIds[k];
      const PlaneSize size = PlaneSizeOf(f, vi_.width, vi_.height, k);
      uint8_t* base = frame.GetWritePtr(plane);
      for (int r = 0; r < size.height; ++r) {
        const int line = f.bottom_up() ? size.height - 1 - r : r;  // packed RGB is stored bottom-up
        const size_t read =
            in_->Read(base + static_cast<ptrdiff_t>(line) * frame.GetPitch(plane), static_cast<size_t>(size.row_bytes));
        got += read;
        if (got == 0) return false;
        if (read < static_cast<size_t>(size.row_bytes))
          throw ToolError(in_->name() + ": truncated frame " + std::to_string(n) + " (got " + std::to_string(got) +
                          " of " + std::to_string(want) + " bytes)");
      }
    }
    return true;
  }
};

// --- Arguments ---------------------------------------------------------------

// A script error from one of the tool's own functions.
[[noreturn]] void Refuse(IScriptEnvironment*, const std::string& message) { throw host::HostError(message); }

// The bars and blank clips come in the classic formats; raw frames in every
// format without alpha, by the host's name or ffmpeg's.
int PixelTypeByName(IScriptEnvironment* env, const char* function, const char* name, bool classic_only) {
  if (classic_only) {
    struct Named {
      const char* names[2];
      int type;
    };
    static constexpr Named kTypes[] = {{{"RGB24", "bgr24"}, VideoInfo::CS_BGR24},
                                       {{"RGB32", "bgra"}, VideoInfo::CS_BGR32},
                                       {{"YUY2", "yuyv422"}, VideoInfo::CS_YUY2},
                                       {{"YV12", "yuv420p"}, VideoInfo::CS_YV12},
                                       {{"I420", "IYUV"}, VideoInfo::CS_I420}};
    for (const Named& t : kTypes)
      for (const char* n : t.names)
        if (strcasecmp(n, name) == 0) return t.type;
    Refuse(env, std::string(function) + ": unknown pixel_type \"" + name +
                    "\" (RGB24, RGB32, YUY2, YV12, I420, or bgr24, bgra, yuyv422, yuv420p)");
  }
  if (const int type = RawPixelType(name); type != 0) return type;
  Refuse(env, std::string(function) + ": unknown pixel_type \"" + name +
                  "\" (a host name such as YV12, YUV422P10, RGB48 or RGBP16, or ffmpeg's, such as yuv420p, "
                  "yuv422p10le, bgr48le or gbrp16le; no alpha)");
}

// Frame size and format, checked before anything is allocated for them.
VideoInfo CheckedVideo(IScriptEnvironment* env, const char* function, int width, int height, int pixel_type) {
  if (width < 1 || width > kMaxDimension || height < 1 || height > kMaxDimension)
    Refuse(env, std::string(function) + ": size " + std::to_string(width) + "x" + std::to_string(height) +
                    " is outside 1 to 16384 per side");
  const PixelFormat f = *DescribePixelType(pixel_type);
  if (width % f.chroma_step_w() != 0)
    Refuse(env, std::string(function) + ": width " + std::to_string(width) + " must be a multiple of " +
                    std::to_string(f.chroma_step_w()) + " for " + f.name);
  if (height % f.chroma_step_h() != 0)
    Refuse(env, std::string(function) + ": height " + std::to_string(height) + " must be even for " + f.name);
  VideoInfo vi{};
  vi.width = width;
  vi.height = height;
  vi.pixel_type = pixel_type;
  return vi;
}

// fps as the frame server's scripts give it: a number, with
// fps_denominator when it is an integer numerator. Without either, NTSC.
void SetRate(IScriptEnvironment* env, const char* function, VideoInfo& vi, const AVSValue& fps, const AVSValue& den) {
  if (den.Defined() && den.AsInt() < 1) Refuse(env, std::string(function) + ": fps_denominator must be 1 or more");
  if (!fps.Defined()) {
    vi.fps_numerator = 30000u;
    vi.fps_denominator = den.Defined() ? static_cast<unsigned>(den.AsInt()) : 1001u;
  } else {
    const double f = fps.AsFloat();
    if (!(f >= 0) || f > 1e6) Refuse(env, std::string(function) + ": fps must be between 0 and 1000000");
    const int d = den.AsInt(1);
    if (std::floor(f) == f) {
      vi.fps_numerator = static_cast<unsigned>(f);
      vi.fps_denominator = static_cast<unsigned>(d);
    } else {
      vi.fps_numerator = static_cast<unsigned>(std::lround(f * 1000.0 * d));
      vi.fps_denominator = static_cast<unsigned>(1000 * d);
    }
  }
}

// Signatures: argument indices follow them.
enum PatternArg { kPatWidth, kPatHeight, kPatPixelType, kPatLength, kPatFps, kPatFpsDen, kPatColor };
constexpr const char* kPatternParams = "[width]i[height]i[pixel_type]s[length]i[fps]f[fps_denominator]i";

AVSValue CreatePattern(AVSValue args, IScriptEnvironment* env, const char* function, bool bars) {
  const int type = PixelTypeByName(env, function, args[kPatPixelType].AsString("YV12"), true);
  VideoInfo vi = CheckedVideo(env, function, args[kPatWidth].AsInt(640), args[kPatHeight].AsInt(480), type);
  vi.num_frames = args[kPatLength].AsInt(300);
  if (vi.num_frames < 0) Refuse(env, std::string(function) + ": length must not be negative");
  SetRate(env, function, vi, args[kPatFps], args[kPatFpsDen]);
  return new PatternClip(vi, bars, bars ? 0 : args[kPatColor].AsInt(0) & 0xFFFFFF);
}

AVSValue __cdecl CreateColorBars(AVSValue args, void*, IScriptEnvironment* env) {
  return CreatePattern(args, env, "ColorBars", true);
}
AVSValue __cdecl CreateBlankClip(AVSValue args, void*, IScriptEnvironment* env) {
  return CreatePattern(args, env, "BlankClip", false);
}

// Sets vi.num_frames: from `length=` when given; from a file's size, rounded
// up so that a truncated last frame is read and reported; INT_MAX for a pipe.
Length SetLength(IScriptEnvironment* env, const char* function, const AVSValue& length, const InputStream& in,
                 int64_t payload, int64_t frame_bytes, VideoInfo& vi) {
  if (length.Defined()) {
    vi.num_frames = length.AsInt();
    if (vi.num_frames < 0) Refuse(env, std::string(function) + ": length must not be negative");
    return Length::kStated;
  }
  if (in.size() < 0) {
    vi.num_frames = INT_MAX;
    return Length::kUnknown;
  }
  vi.num_frames = static_cast<int>(std::min<int64_t>(INT_MAX, (payload + frame_bytes - 1) / frame_bytes));
  return Length::kFromSize;
}

enum Y4mArg { kY4mPath, kY4mLength };

AVSValue __cdecl CreateY4MSource(AVSValue args, void*, IScriptEnvironment* env) {
  try {
    auto in = InputStream::Open(args[kY4mPath].AsString(""));
    const Y4mHeader h = ReadY4mHeader(*in);
    VideoInfo vi = Y4mVideoInfo(h);                                          // its size is checked
    const int64_t frame_bytes = static_cast<int64_t>(Y4mFrameBytes(h)) + 6;  // with "FRAME\n"
    const Length length = SetLength(env, "Y4MSource", args[kY4mLength], *in,
                                    in->size() - static_cast<int64_t>(h.header_bytes), frame_bytes, vi);
    return new Y4mClip(vi, std::move(in), h, length);
  } catch (const ToolError& e) {
    Refuse(env, std::string("Y4MSource: ") + e.what());
  }
}

enum RawArg { kRawPath, kRawWidth, kRawHeight, kRawPixelType, kRawFps, kRawFpsDen, kRawLength };

AVSValue __cdecl CreateRawSource(AVSValue args, void*, IScriptEnvironment* env) {
  const int type = PixelTypeByName(env, "RawSource", args[kRawPixelType].AsString("YV12"), false);
  VideoInfo vi = CheckedVideo(env, "RawSource", args[kRawWidth].AsInt(), args[kRawHeight].AsInt(), type);
  SetRate(env, "RawSource", vi, args[kRawFps], args[kRawFpsDen]);
  try {
    auto in = InputStream::Open(args[kRawPath].AsString(""));
    const auto frame_bytes = static_cast<int64_t>(RawFrameBytes(*DescribePixelType(type), vi.width, vi.height));
    const Length length = SetLength(env, "RawSource", args[kRawLength], *in, in->size(), frame_bytes, vi);
    return new RawClip(vi, std::move(in), length);
  } catch (const ToolError& e) {
    Refuse(env, std::string("RawSource: ") + e.what());
  }
}

AVSValue __cdecl LoadPluginFunction(AVSValue args, void*, IScriptEnvironment* env) {
  Host(env).LoadPlugin(args[0].AsString(""));
  return AVSValue();
}

}  // namespace

void RegisterBuiltins(Environment& env) {
  const std::string pattern = kPatternParams;
  env.AddFunction("ColorBars", pattern.c_str(), CreateColorBars, nullptr);
  env.AddFunction("BlankClip", (pattern + "[color]i").c_str(), CreateBlankClip, nullptr);
  env.AddFunction("Y4MSource", "s[length]i", CreateY4MSource, nullptr);
  env.AddFunction("RawSource", "sii[pixel_type]s[fps]f[fps_denominator]i[length]i", CreateRawSource, nullptr);
  env.AddFunction("LoadPlugin", "s", LoadPluginFunction, nullptr);
}

bool ReadsStreamOfUnknownLength() { return unknown_length_streams > 0; }

std::optional<Y4mTags> TagsOfTheY4mInput() {
  if (y4m_inputs.size() != 1) return std::nullopt;
  return Y4mTags{y4m_inputs[0]->colour, y4m_inputs[0]->aspect};
}

}  // namespace tallyburn::tool
