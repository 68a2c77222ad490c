// Bytes shared by the painters of opaque boxes: a pixel of the drawn plane
// at a level, copies that keep packed alpha, and neutral chroma under a box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/frame_view.h"
#include "core/pixel_format.h"

namespace tallyburn {

// One pixel of the drawn plane (luma, G, B or R, or the packed plane) as
// the format stores it: a sample at `integer` (or `floating` in float
// formats); YUY2 with neutral chroma; packed RGB with three equal samples
// and a zero alpha that copies mask off.
std::vector<uint8_t> PixelBytes(const PixelFormat& format, uint32_t integer, float floating);

// Copies `bytes` (whole 8-byte words where kAlpha is set: 2 RGB32 or 1
// RGB64 pixel each), keeping the destination's bits of kAlpha.
template <uint64_t kAlpha>
inline void CopyBytes(uint8_t* dst, const uint8_t* src, size_t bytes) noexcept {
  if constexpr (kAlpha == 0) {
    std::memcpy(dst, src, bytes);
  } else {
    for (size_t i = 0; i < bytes; i += 8) {
      uint64_t d, v;
      std::memcpy(&d, dst + i, 8);
      std::memcpy(&v, src + i, 8);
      d = (d & kAlpha) | (v & ~kAlpha);
      std::memcpy(dst + i, &d, 8);
    }
  }
}

// The alpha bits of an 8-byte word of packed RGB with alpha.
inline constexpr uint64_t kAlpha32 = 0xFF000000FF000000u;  // two RGB32 pixels
inline constexpr uint64_t kAlpha64 = 0xFFFF000000000000u;  // one RGB64 pixel

// A line of neutral chroma samples under picture columns x0 to x1 (planar
// YUV; empty for other formats), and its copy into the U and V planes
// under picture lines y0 to y1.
std::vector<uint8_t> NeutralChromaLine(const PixelFormat& format, int x0, int x1);
void FillNeutralChroma(const FrameView& frame, const PixelFormat& format, int x0, int y0, int y1,
                       const std::vector<uint8_t>& line) noexcept;

}  // namespace tallyburn
