// Test pictures: colour bars over a grey ramp, and one colour.
#include <algorithm>
#include <cmath>
#include <vector>

#include "tool/script/source_stream.h"
#include "tool/script/source_support.h"

namespace tallyburn::tool {
namespace {

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

}  // namespace

void RegisterPatternSources(frameserver::Environment& env, ToolContext& context) {
  const std::string pattern = kPatternParams;
  env.AddFunction("ColorBars", pattern.c_str(), CreateColorBars, &context);
  env.AddFunction("BlankClip", (pattern + "[color]i").c_str(), CreateBlankClip, &context);
}

}  // namespace tallyburn::tool
