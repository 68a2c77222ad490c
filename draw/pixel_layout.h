// Which of the classic layouts a frame is drawn in.
#pragma once

#include <optional>

#include "core/pixel_format.h"

namespace tallyburn {

enum class PixelLayout { kRgb24, kRgb32, kYuy2, kYv12, kUndrawn };

// Only the five classic formats are drawn (by their entries' AviSynth pixel
// types). A newer host hands a 2.5 plug-in formats whose values carry extra
// bits on top of these (planar 4:2:2 and 4:4:4, 16-bit 4:2:0, 48/64-bit RGB)
// and so pass the interface's masked tests; drawn as the classic layout they
// would come out wrong, so they pass through undrawn. I420 is drawn exactly
// as YV12.
constexpr PixelLayout DrawnLayout(int pixel_type) noexcept {
  switch (static_cast<unsigned>(pixel_type)) {
    case 0x50000001u: return PixelLayout::kRgb24;
    case 0x50000002u: return PixelLayout::kRgb32;
    case 0x60000004u: return PixelLayout::kYuy2;
    case 0xA0000008u:
    case 0xA0000010u: return PixelLayout::kYv12;
    default: return PixelLayout::kUndrawn;
  }
}
constexpr PixelLayout DrawnLayout(const std::optional<PixelFormat>& format) noexcept {
  return format ? DrawnLayout(format->pixel_type) : PixelLayout::kUndrawn;
}

// Bytes per pixel of the drawn plane (the luma plane in YV12).
constexpr int BytesPerPixel(PixelLayout layout) noexcept {
  switch (layout) {
    case PixelLayout::kRgb24: return 3;
    case PixelLayout::kRgb32: return 4;
    case PixelLayout::kYuy2: return 2;
    default: return 1;
  }
}

// RGB frames store the bottom line first; the others the top line first.
constexpr bool IsBottomUp(PixelLayout layout) noexcept {
  return layout == PixelLayout::kRgb24 || layout == PixelLayout::kRgb32;
}

}  // namespace tallyburn
