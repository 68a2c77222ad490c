// Which of the classic layouts a frame is drawn in.
#pragma once

#include "plugin/avisynth.h"

namespace tallyburn {

enum class PixelLayout { kRgb24, kRgb32, kYuy2, kYv12, kUndrawn };

// Only the five classic values are drawn. A newer host hands a 2.5 plug-in
// formats whose values carry extra bits on top of these (planar 4:2:2 and
// 4:4:4, 16-bit 4:2:0, 48/64-bit RGB) and so pass the interface's masked
// tests; drawn as the classic layout they would come out wrong, so they pass
// through undrawn. I420 is drawn exactly as YV12.
constexpr PixelLayout DrawnLayout(int pixel_type) noexcept {
  switch (pixel_type) {
    case VideoInfo::CS_BGR24: return PixelLayout::kRgb24;
    case VideoInfo::CS_BGR32: return PixelLayout::kRgb32;
    case VideoInfo::CS_YUY2: return PixelLayout::kYuy2;
    case VideoInfo::CS_YV12:
    case VideoInfo::CS_I420: return PixelLayout::kYv12;
    default: return PixelLayout::kUndrawn;
  }
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
