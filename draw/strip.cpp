#include "draw/strip.h"

#include <cmath>
#include <iterator>

#include "core/message.h"
#include "draw/box_bytes.h"
#include "draw/text_box.h"
#include "framecode/codec.h"

namespace tallyburn {
namespace {

using framecode::kBorder;
using framecode::kGrid;
using framecode::kHeightModules;
using framecode::kModulePixels;
using framecode::kModules;
using framecode::kSmallModules;
using framecode::kWidthModules;

// A level between the format's dark and light ends: of the luma range in
// YUV (16 to 235 at 8 bits), of full scale in RGB.
std::vector<uint8_t> LevelBytes(const PixelFormat& f, double fraction) {
  if (f.rgb()) {
    const double top = f.sample == SampleType::kF32 ? 1.0 : (1 << f.bits) - 1;
    return PixelBytes(f, static_cast<uint32_t>(std::lround(fraction * top)), static_cast<float>(fraction));
  }
  const double eight_bit = 16 + fraction * 219;
  const double scale = f.sample == SampleType::kF32 ? 1.0 : static_cast<double>(1 << (f.bits - 8));
  return PixelBytes(f, static_cast<uint32_t>(std::lround(eight_bit * scale)), static_cast<float>(eight_bit / 255));
}

}  // namespace

int StripGeometry::width() const noexcept { return kWidthModules * module; }
int StripGeometry::height() const noexcept { return kHeightModules * module; }

bool PlaceStrip(int frame_width, int frame_height, int module, int align, StripGeometry* strip) noexcept {
  if (module < 1 || align < 1 || align > 9 || module > frame_height) return false;
  const int64_t w = int64_t{kWidthModules} * module, h = int64_t{kHeightModules} * module;
  if (w > frame_width || h > frame_height) return false;
  const int column = (align - 1) % 3, row = (align - 1) / 3;  // 0 left/bottom, 1 centre, 2 right/top
  const int64_t x = column == 0 ? 0 : column == 1 ? (frame_width - w) / 2 : frame_width - w;
  const int64_t y = row == 2 ? 0 : row == 1 ? (frame_height - h) / 2 : frame_height - h;
  *strip = StripGeometry{static_cast<int>(x / kGrid * kGrid), static_cast<int>(y / kGrid * kGrid), module};
  return true;
}

StripPainter::StripPainter(const PixelFormat& format, const StripGeometry& strip)
    : format_(format), strip_(strip), kernel_(&PaintStrip<0>) {
  for (const auto& [level, out] : {std::pair{framecode::kDark, &dark_}, std::pair{framecode::kLight, &light_}}) {
    const std::vector<uint8_t> pixel = LevelBytes(format, level);
    for (int i = 0; i < strip.module; ++i) out->insert(out->end(), pixel.begin(), pixel.end());
  }
  x0_bytes_ = static_cast<size_t>(strip.x0) * (dark_.size() / static_cast<size_t>(strip.module));
  neutral_ = NeutralChromaLine(format, strip.x0, strip.x0 + strip.width());
  if (format.family == Family::kPackedRgb && format.channels == 4)
    kernel_ = format.sample == SampleType::kU8 ? &PaintStrip<kAlpha32> : &PaintStrip<kAlpha64>;
}

template <uint64_t kAlpha>
void StripPainter::PaintStrip(const StripPainter& self, const FrameView& frame, uint32_t number) noexcept {
  const StripGeometry& s = self.strip_;
  const PixelFormat& f = self.format_;
  framecode::DataRow data;
  framecode::Encode(number, data);
  const size_t module_bytes = self.dark_.size();
  const int planes = f.family == Family::kPlanarRgb ? 3 : 1;  // the same picture in G, B and R
  for (int k = 0; k < planes; ++k) {
    const PlaneView& plane = frame.planes[k];
    const auto line = [&](int y) { return plane.line(y) + self.x0_bytes_; };
    for (int row = 0; row < kHeightModules; ++row) {
      const int y = s.y0 + row * s.module;
      uint8_t* p = line(y);
      for (int m = 0; m < kWidthModules; ++m, p += module_bytes) {
        const int i = m - kBorder;  // module within the clock and data rows
        const bool inside = i >= 0 && i < kModules;
        const bool light = inside && (row == 1 ? i % 2 == 0 : row == 2 ? data[i] : false);
        CopyBytes<kAlpha>(p, (light ? self.light_ : self.dark_).data(), module_bytes);
      }
      for (int r = 1; r < s.module; ++r) CopyBytes<kAlpha>(line(y + r), line(y), module_bytes * kWidthModules);
    }
  }
  FillNeutralChroma(frame, f, s.x0, s.y0, s.y0 + s.height(), self.neutral_);
}

std::optional<StripPainter> SetUpStrip(const char* filter, const ClipShape& clip, int scale, int align,
                                       std::string* error) {
  if (scale < 0 || scale > kMaxScale) {
    *error = Message("%s: scale must be 0 (automatic) to %d, not %d", filter, kMaxScale, scale);
    return std::nullopt;
  }
  if (align < 1 || align > 9) {
    *error = Message("%s: align must be 1 to 9 (as on a numeric keypad), not %d", filter, align);
    return std::nullopt;
  }
  if (!clip.format) return std::nullopt;
  StripGeometry strip{};
  int s = scale > 0 ? scale : AutoScale(clip.height);
  while (!PlaceStrip(clip.width, clip.height, kModulePixels * s, align, &strip)) {
    if (scale > 0) {
      *error = Message("%s: the strip at scale %d (%lldx%lld) does not fit the %dx%d frame", filter, s,
                       static_cast<long long>(kWidthModules) * kModulePixels * s,
                       static_cast<long long>(kHeightModules) * kModulePixels * s, clip.width, clip.height);
      return std::nullopt;
    }
    if (s > 1) {
      --s;
      continue;
    }
    for (const int module : kSmallModules)  // even: whole chroma samples and RGB32 pairs
      if (PlaceStrip(clip.width, clip.height, module, align, &strip)) return StripPainter(*clip.format, strip);
    constexpr int kSmallest = std::end(kSmallModules)[-1];
    *error = Message("%s: the strip of %d-pixel modules (%dx%d) does not fit the %dx%d frame", filter, kSmallest,
                     kWidthModules * kSmallest, kHeightModules * kSmallest, clip.width, clip.height);
    return std::nullopt;
  }
  return StripPainter(*clip.format, strip);
}

}  // namespace tallyburn
