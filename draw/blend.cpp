#include "draw/blend.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace tallyburn {
namespace {

// Luma coefficients of red and blue.
struct Matrix {
  double kr, kb;
};
constexpr Matrix kBt601{0.299, 0.114};
constexpr Matrix kBt709{0.2126, 0.0722};
constexpr Matrix kBt2020{0.2627, 0.0593};

template <typename T>
T Load(const uint8_t* p) noexcept {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}
template <typename T>
void Store(uint8_t* p, T v) noexcept {
  std::memcpy(p, &v, sizeof(T));
}

// p + (target - p) * alpha / 65536, rounded; alpha 65536 gives the target.
template <typename T>
T Mix(T p, uint32_t target, float target_f, int alpha) noexcept {
  if constexpr (std::is_floating_point_v<T>) {
    // Weighted, not p + (target - p) * a: exact at a = 1 whatever p holds.
    const float a = static_cast<float>(alpha) * (1.0f / kOpaque);
    return p * (1 - a) + target_f * a;
  } else {
    const int64_t d = static_cast<int64_t>(target) - static_cast<int64_t>(p);
    return static_cast<T>(static_cast<int64_t>(p) + ((d * alpha + kOpaque / 2) >> 16));
  }
}

}  // namespace

Blender::Blender(const PixelFormat& format, int width, int height) noexcept
    : format_(format), bt709_(width > 1024 || height > 576), channels_{}, channel_count_(0) {
  const int b = format.bytes_per_sample;
  const auto add = [this](Channel c) { channels_[channel_count_++] = c; };
  switch (format.family) {
    case Family::kPlanarYuv:
      add({0, 0, b, 0, 0});
      add({1, 0, b, format.log2_chroma_w, format.log2_chroma_h});
      add({2, 0, b, format.log2_chroma_w, format.log2_chroma_h});
      break;
    case Family::kGrey: add({0, 0, b, 0, 0}); break;
    case Family::kPlanarRgb:  // G, B, R
      for (int k = 0; k < 3; ++k) add({k, 0, b, 0, 0});
      break;
    case Family::kPackedRgb:  // B, G, R (A)
      for (int k = 0; k < 3; ++k) add({0, k * b, format.channels * b, 0, 0});
      break;
    case Family::kYuy2:  // Y U Y V
      add({0, 0, 2, 0, 0});
      add({0, 1, 4, 1, 0});
      add({0, 3, 4, 1, 0});
      break;
  }
}

Ink Blender::InkOf(uint32_t rgb, double white, bool bt2020) const noexcept {
  const double r = (rgb >> 16 & 0xFF) / 255.0 * white, g = (rgb >> 8 & 0xFF) / 255.0 * white,
               b = (rgb & 0xFF) / 255.0 * white;
  Ink ink{};
  const bool is_float = format_.sample == SampleType::kF32;
  if (format_.rgb()) {
    const double top = is_float ? 1.0 : (1u << format_.bits) - 1;
    // In Blender's channel order: G B R planar, B G R packed.
    const double planar[3] = {g, b, r}, packed[3] = {b, g, r};
    const double* v = format_.family == Family::kPlanarRgb ? planar : packed;
    for (int k = 0; k < 3; ++k) {
      ink.integer[k] = static_cast<uint32_t>(std::lround(v[k] * top));
      ink.floating[k] = static_cast<float>(v[k]);
    }
    return ink;
  }
  const Matrix m = bt2020 ? kBt2020 : bt709_ ? kBt709 : kBt601;
  const double y = m.kr * r + (1 - m.kr - m.kb) * g + m.kb * b;
  const double pb = (b - y) / (2 * (1 - m.kb)), pr = (r - y) / (2 * (1 - m.kr));
  // 8-bit limited-range codes, then scaled as the format's levels are.
  double codes[3] = {16 + 219 * y, 128 + 224 * pb, 128 + 224 * pr};
  // Greys come out a rounding error off neutral chroma: a millionth of a
  // code is below every depth's step, and keeps float greys at exactly 0.
  for (double& c : codes) c = std::round(c * 1e6) / 1e6;
  const double scale = is_float ? 1.0 : static_cast<double>(1u << (format_.bits - 8));
  for (int k = 0; k < 3; ++k) {
    ink.integer[k] = static_cast<uint32_t>(std::lround(codes[k] * scale));
    ink.floating[k] = static_cast<float>((k == 0 ? codes[k] : codes[k] - 128) / 255);
  }
  return ink;
}

namespace {

// Blends every sample of a channel in `clip` that the coverage reaches (the
// whole of `clip` where there is no coverage).
template <typename T>
void BlendChannel(const PlaneView& plane, const Blender::Channel& c, const Coverage* coverage, int x, int y,
                  const PixelRect& clip, uint32_t target, float target_f, int opacity) noexcept {
  const int w = coverage ? coverage->width : clip.x1 - clip.x0, h = coverage ? coverage->height : clip.y1 - clip.y0;
  const int px0 = std::max(x, clip.x0), px1 = std::min(x + w, clip.x1);
  const int py0 = std::max(y, clip.y0), py1 = std::min(y + h, clip.y1);
  if (px0 >= px1 || py0 >= py1) return;
  const int sx0 = px0 >> c.log2_w, sx1 = (px1 + (1 << c.log2_w) - 1) >> c.log2_w;
  const int sy0 = py0 >> c.log2_h, sy1 = (py1 + (1 << c.log2_h) - 1) >> c.log2_h;
  const int span = 1 << (c.log2_w + c.log2_h);
  for (int sy = sy0; sy < sy1; ++sy) {
    uint8_t* p = plane.line(sy) + c.offset + static_cast<ptrdiff_t>(sx0) * c.step;
    for (int sx = sx0; sx < sx1; ++sx, p += c.step) {
      int alpha = opacity;
      if (coverage) {
        // The mean coverage of the pixels this sample spans.
        int sum = 0;
        for (int yy = sy << c.log2_h; yy < (sy + 1) << c.log2_h; ++yy) {
          if (yy < py0 || yy >= py1) continue;
          const uint8_t* row = coverage->data + (yy - y) * coverage->stride - x;
          for (int xx = sx << c.log2_w; xx < (sx + 1) << c.log2_w; ++xx)
            if (xx >= px0 && xx < px1) sum += row[xx];
        }
        if (sum == 0) continue;
        alpha = static_cast<int>((static_cast<int64_t>(sum) * opacity + 255 * span / 2) / (255 * span));
      }
      Store<T>(p, Mix<T>(Load<T>(p), target, target_f, alpha));
    }
  }
}

template <typename T>
void BlendAll(const FrameView& frame, const Blender::Channel* channels, int count, const Coverage* coverage, int x,
              int y, const PixelRect& clip, const Ink& ink, int opacity) noexcept {
  for (int k = 0; k < count; ++k)
    BlendChannel<T>(frame.planes[channels[k].plane], channels[k], coverage, x, y, clip, ink.integer[k], ink.floating[k],
                    opacity);
}

}  // namespace

void Blender::Fill(const FrameView& frame, const PixelRect& rect, const Ink& ink, int opacity) const noexcept {
  Blend(frame, Coverage{nullptr, 0, 0, 0}, rect.x0, rect.y0, rect, ink, opacity);
}

void Blender::Blend(const FrameView& frame, const Coverage& coverage, int x, int y, const PixelRect& clip,
                    const Ink& ink, int opacity) const noexcept {
  if (opacity <= 0) return;
  const Coverage* cov = coverage.data ? &coverage : nullptr;
  switch (format_.sample) {
    case SampleType::kU8: return BlendAll<uint8_t>(frame, channels_, channel_count_, cov, x, y, clip, ink, opacity);
    case SampleType::kU16: return BlendAll<uint16_t>(frame, channels_, channel_count_, cov, x, y, clip, ink, opacity);
    case SampleType::kF32: return BlendAll<float>(frame, channels_, channel_count_, cov, x, y, clip, ink, opacity);
  }
}

}  // namespace tallyburn
