#include "tests/filters/text_samples.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tallyburn::testing {
namespace {

const frameserver::PlaneGeometry& PlaneOf(Environment& env, const PVideoFrame& frame, int id) {
  for (const frameserver::PlaneGeometry& g : *env.frames().Planes(frame.get()))
    if (g.plane == id) return g;
  ADD_FAILURE() << "no plane " << id;
  return env.frames().Planes(frame.get())->front();
}

struct Where {
  int plane;
  int byte;  // into the pixel's line, from the line's start
  int log2_w, log2_h;
};

Where ChannelOf(const PixelFormat& f, int channel, int x) {
  const int b = f.bytes_per_sample;
  static constexpr int kSlots[3] = {PLANAR_Y, PLANAR_U, PLANAR_V};
  switch (f.family) {
    case Family::kPlanarYuv:
      if (channel == 0) return {PLANAR_Y, x * b, 0, 0};
      return {kSlots[channel], (x >> f.log2_chroma_w) * b, f.log2_chroma_w, f.log2_chroma_h};
    case Family::kGrey: return {PLANAR_Y, x * b, 0, 0};
    case Family::kPlanarRgb: return {kSlots[channel], x * b, 0, 0};
    case Family::kPackedRgb: return {PLANAR_Y, x * f.channels * b + channel * b, 0, 0};
    case Family::kYuy2: return {PLANAR_Y, channel == 0 ? 2 * x : 4 * (x / 2) + (channel == 1 ? 1 : 3), 0, 0};
  }
  return {};
}

}  // namespace

int Channels(const PixelFormat& f) { return f.family == Family::kGrey ? 1 : 3; }

double SampleAt(Environment& env, const PVideoFrame& frame, const PixelFormat& f, int channel, int x, int y) {
  const Where w = ChannelOf(f, channel, x);
  const frameserver::PlaneGeometry& g = PlaneOf(env, frame, w.plane);
  const int line = f.bottom_up() ? g.height - 1 - y : y >> w.log2_h;
  const uint8_t* p = frame->vfb->data + g.offset + static_cast<size_t>(line) * g.pitch + w.byte;
  switch (f.sample) {
    case SampleType::kU8: return p[0];
    case SampleType::kU16: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case SampleType::kF32: {
      float v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
  return 0;
}

PixelBox ChangedBox(Environment& env, const PVideoFrame& out, const PVideoFrame& src, const PixelFormat& f,
                    int height) {
  PixelBox box{1 << 30, 1 << 30, -1, -1};
  const int step = f.bytes_per_sample * f.channels;
  for (const ByteAt& b : Differences(env, out, src)) {
    if (b.plane != PLANAR_Y) continue;
    const int x = b.column / step, y = f.bottom_up() ? height - 1 - b.line : b.line;
    box = {std::min(box.x0, x), std::min(box.y0, y), std::max(box.x1, x + 1), std::max(box.y1, y + 1)};
  }
  return box;
}

std::vector<Region> RegionsOf(const PixelFormat& f, int height, const PixelBox& box) {
  const int step = f.bytes_per_sample * f.channels;
  std::vector<Region> out;
  const int first = f.bottom_up() ? height - box.y1 : box.y0, last = f.bottom_up() ? height - 1 - box.y0 : box.y1 - 1;
  out.push_back({PLANAR_Y, first, last, box.x0 * step, box.x1 * step - 1});
  if (f.family == Family::kPlanarYuv || f.family == Family::kPlanarRgb) {
    const int lw = f.family == Family::kPlanarYuv ? f.log2_chroma_w : 0;
    const int lh = f.family == Family::kPlanarYuv ? f.log2_chroma_h : 0;
    for (const int plane : {PLANAR_U, PLANAR_V})
      out.push_back({plane, box.y0 >> lh, ((box.y1 + (1 << lh) - 1) >> lh) - 1, (box.x0 >> lw) * f.bytes_per_sample,
                     ((box.x1 + (1 << lw) - 1) >> lw) * f.bytes_per_sample - 1});
  }
  return out;
}

std::array<double, 3> ExpectedSamples(const PixelFormat& f, bool bt709, uint32_t rgb) {
  const double r = (rgb >> 16 & 255) / 255.0, g = (rgb >> 8 & 255) / 255.0, b = (rgb & 255) / 255.0;
  const bool is_float = f.sample == SampleType::kF32;
  if (f.rgb()) {
    const double top = is_float ? 1.0 : (1 << f.bits) - 1;
    const std::array<double, 3> v = f.family == Family::kPlanarRgb ? std::array{g, b, r} : std::array{b, g, r};
    std::array<double, 3> out{};
    for (int k = 0; k < 3; ++k) out[k] = is_float ? static_cast<float>(v[k]) : std::round(v[k] * top);
    return out;
  }
  const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114;
  const double y = kr * r + (1 - kr - kb) * g + kb * b;
  double codes[3] = {16 + 219 * y, 128 + 224 * (b - y) / (2 * (1 - kb)), 128 + 224 * (r - y) / (2 * (1 - kr))};
  for (double& c : codes) c = std::round(c * 1e6) / 1e6;  // greys exactly neutral
  std::array<double, 3> out{};
  for (int k = 0; k < 3; ++k)
    out[k] = is_float ? static_cast<float>((k == 0 ? codes[k] : codes[k] - 128) / 255)
                      : std::round(codes[k] * (1 << (f.bits - 8)));
  return out;
}

}  // namespace tallyburn::testing
