#include "draw/box_bytes.h"

namespace tallyburn {
namespace {

template <typename T>
void PutPixel(const PixelFormat& f, T value, uint8_t neutral, std::vector<uint8_t>& out) {
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  if (f.family == Family::kYuy2) {
    out.push_back(bytes[0]);
    out.push_back(neutral);
    return;
  }
  const int samples = f.family == Family::kPackedRgb ? 3 : 1;
  for (int i = 0; i < samples; ++i) out.insert(out.end(), bytes, bytes + sizeof(T));
  if (f.family == Family::kPackedRgb && f.channels == 4) out.insert(out.end(), sizeof(T), 0);  // alpha, masked off
}

}  // namespace

std::vector<uint8_t> PixelBytes(const PixelFormat& format, uint32_t integer, float floating) {
  std::vector<uint8_t> out;
  const auto neutral = static_cast<uint8_t>(LevelsOf(format).neutral);
  switch (format.sample) {
    case SampleType::kU8: PutPixel<uint8_t>(format, static_cast<uint8_t>(integer), neutral, out); break;
    case SampleType::kU16: PutPixel<uint16_t>(format, static_cast<uint16_t>(integer), neutral, out); break;
    case SampleType::kF32: PutPixel<float>(format, floating, neutral, out); break;
  }
  return out;
}

std::vector<uint8_t> NeutralChromaLine(const PixelFormat& format, int x0, int x1) {
  std::vector<uint8_t> line;
  if (format.family != Family::kPlanarYuv) return line;
  // A chroma sample is stored as a one-sample pixel of a planar format.
  const Levels levels = LevelsOf(format);
  const std::vector<uint8_t> sample = PixelBytes(format, levels.neutral, levels.neutral_f);
  for (int i = x0 >> format.log2_chroma_w; i < x1 >> format.log2_chroma_w; ++i)
    line.insert(line.end(), sample.begin(), sample.end());
  return line;
}

void FillNeutralChroma(const FrameView& frame, const PixelFormat& format, int x0, int y0, int y1,
                       const std::vector<uint8_t>& line) noexcept {
  if (line.empty()) return;
  const int cy0 = y0 >> format.log2_chroma_h, cy1 = y1 >> format.log2_chroma_h;
  const size_t first = static_cast<size_t>(x0 >> format.log2_chroma_w) * format.bytes_per_sample;
  for (const PlaneView& plane : {frame.planes[1], frame.planes[2]})
    for (int y = cy0; y < cy1; ++y) std::memcpy(plane.line(y) + first, line.data(), line.size());
}

}  // namespace tallyburn
