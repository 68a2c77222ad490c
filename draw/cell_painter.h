// Writes one digit cell, 8 glyph pixels and the blank pixels after them on
// each of its 14 lines, in one pixel layout known at compile time, so each
// line is a short run of straight stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "draw/pixel_layout.h"
#include "glyphs/digit_font.h"

namespace tallyburn {

// Luma of glyph pixels in the YUV layouts: background + (glyph byte & span),
// so a 0 glyph byte gives `background` and a 255 one background + span.
// RGB layouts write the glyph byte itself into blue, green and red.
struct LumaLevels {
  uint8_t background;
  uint8_t span;
};

inline constexpr uint8_t kNeutralChroma = 128;

// The luma of 8 glyph pixels at once: glyph bytes are 0 or 255 and
// background + span stays below 256, so no byte carries into the next.
inline uint64_t Luma8(const uint8_t* g, LumaLevels luma) noexcept {
  constexpr uint64_t kEach = 0x0101010101010101u;
  uint64_t row;
  std::memcpy(&row, g, 8);
  return (row & (luma.span * kEach)) + luma.background * kEach;
}

// Bytes a b c d of the low 32 bits to a 0 b 0 c 0 d 0 (little-endian
// order), the luma positions of 4 YUY2 pixels.
inline uint64_t Spread4(uint64_t x) noexcept {
  x = (x | x << 16) & 0x0000FFFF0000FFFFu;
  return (x | x << 8) & 0x00FF00FF00FF00FFu;
}
inline constexpr uint64_t kChroma4 = 0x8000800080008000u;  // neutral chroma of 4 YUY2 pixels

// `bottom` points at the cell's left pixel on its bottom line as seen;
// `up` is the byte step from one line to the one above it (+pitch in the
// bottom-up RGB frames, -pitch in the others). Blank pixels are black:
// RGB 0 (RGB32 alpha too), luma 0 with neutral chroma.
template <PixelLayout L, int kBlank>
inline void PaintCellLines(uint8_t* bottom, ptrdiff_t up, const uint8_t* glyph, LumaLevels luma) noexcept {
  constexpr int blank = kBlank;
  for (int r = 0; r < kGlyphHeight; ++r, bottom += up) {
    const uint8_t* g = glyph + r * kGlyphWidth;
    uint8_t* p = bottom;
    if constexpr (L == PixelLayout::kRgb24) {
      // 8 pixels of 3 equal bytes: three 8-byte stores.
      const auto px = [g](int c) { return static_cast<uint64_t>(g[c]) * 0x010101u; };  // g g g
      const uint64_t a = px(0) | px(1) << 24 | px(2) << 48;
      const uint64_t b = px(2) >> 16 | px(3) << 8 | px(4) << 32 | px(5) << 56;
      const uint64_t c = px(5) >> 8 | px(6) << 16 | px(7) << 40;
      std::memcpy(p, &a, 8);
      std::memcpy(p + 8, &b, 8);
      std::memcpy(p + 16, &c, 8);
      std::memset(p + 3 * kGlyphWidth, 0, 3 * blank);
    } else if constexpr (L == PixelLayout::kRgb32) {
      // Two pixels per 8-byte word; their alpha bytes stay.
      constexpr uint64_t kAlpha = 0xFF000000FF000000u;
      for (int c = 0; c < kGlyphWidth; c += 2) {
        uint64_t two;
        std::memcpy(&two, p + 4 * c, 8);
        two = (two & kAlpha) | (g[c] * 0x010101u) | static_cast<uint64_t>(g[c + 1] * 0x010101u) << 32;
        std::memcpy(p + 4 * c, &two, 8);
      }
      std::memset(p + 4 * kGlyphWidth, 0, 4 * blank);
    } else if constexpr (L == PixelLayout::kYuy2) {
      // 8 luma bytes at once (as in YV12 below), then spread to Y C Y C ...
      // with neutral chroma: two 8-byte stores of glyph pixels.
      const uint64_t y = Luma8(g, luma);
      const uint64_t lo = Spread4(y & 0xFFFFFFFFu) | kChroma4, hi = Spread4(y >> 32) | kChroma4;
      std::memcpy(p, &lo, 8);
      std::memcpy(p + 8, &hi, 8);
      for (int c = kGlyphWidth; c < kGlyphWidth + blank; ++c) {
        const uint16_t px = kNeutralChroma << 8;
        std::memcpy(p + 2 * c, &px, 2);
      }
    } else if constexpr (L == PixelLayout::kYv12) {
      const uint64_t row = Luma8(g, luma);
      std::memcpy(p, &row, 8);
      std::memset(p + kGlyphWidth, 0, blank);
    }
  }
}

// `blank` is 2 or 6, the only blank runs a cell has; as constants they
// become a few stores instead of a call per line.
template <PixelLayout L>
inline void PaintCell(uint8_t* bottom, ptrdiff_t up, const uint8_t* glyph, int blank, LumaLevels luma) noexcept {
  if (blank == 6)
    PaintCellLines<L, 6>(bottom, up, glyph, luma);
  else
    PaintCellLines<L, 2>(bottom, up, glyph, luma);
}

// Paints a cell in the frame's layout: `bottom` points at its left pixel on
// its bottom line as seen, `up` is the byte step to the line above.
inline void PaintCellAt(PixelLayout layout, uint8_t* bottom, ptrdiff_t up, const uint8_t* glyph, int blank,
                        LumaLevels luma) noexcept {
  switch (layout) {
    case PixelLayout::kRgb24: return PaintCell<PixelLayout::kRgb24>(bottom, up, glyph, blank, luma);
    case PixelLayout::kRgb32: return PaintCell<PixelLayout::kRgb32>(bottom, up, glyph, blank, luma);
    case PixelLayout::kYuy2: return PaintCell<PixelLayout::kYuy2>(bottom, up, glyph, blank, luma);
    case PixelLayout::kYv12: return PaintCell<PixelLayout::kYv12>(bottom, up, glyph, blank, luma);
    case PixelLayout::kUndrawn: return;
  }
}

}  // namespace tallyburn
