// The built-in digit font shared by both filters.
#pragma once

#include <array>
#include <cstdint>

namespace tallyburn {

inline constexpr int kGlyphWidth = 8;
inline constexpr int kGlyphHeight = 14;
inline constexpr int kGlyphCount = 10;
inline constexpr int kGlyphBytes = kGlyphWidth * kGlyphHeight;  // 112
inline constexpr int kFontBytes = kGlyphCount * kGlyphBytes;    // 1120

inline constexpr uint8_t kInk = 255;
inline constexpr uint8_t kBackground = 0;

// Ten unpacked 8x14 glyphs, index = digit value, one byte per pixel (0 or
// 255). Storage row 0 is the bottom line of the digit as seen, the same line
// order as an RGB frame; byte (d, r, c) is at d * 112 + r * 8 + c.
using DigitFont = std::array<uint8_t, kFontBytes>;
extern const DigitFont kDigitFont;

// Text characters that are not digits have no glyph. The minus sign of a
// negative number is drawn as a bar of our own, 6 pixels wide and 2 lines
// high across the middle of the cell (storage rows 6 and 7, columns 1 to 6);
// any other character shows an empty cell. Computed, not looked up, so
// nothing outside a font copy is ever read for it.
inline constexpr char kMinus = '-';

constexpr uint8_t SignPixel(char sign, int row, int col) noexcept {
  const bool bar = row >= 6 && row <= 7 && col >= 1 && col <= 6;
  return sign == kMinus && bar ? kInk : kBackground;
}

// Fills `glyph` (one glyph's 112 bytes, laid out as in the font) for a
// character that has no glyph of its own.
constexpr void FillSignGlyph(char sign, uint8_t (&glyph)[kGlyphBytes]) noexcept {
  for (int r = 0; r < kGlyphHeight; ++r)
    for (int c = 0; c < kGlyphWidth; ++c) glyph[r * kGlyphWidth + c] = SignPixel(sign, r, c);
}

// The glyph a cell shows for `digit` (a text character's code minus '0'):
// the font copy's own for 0 to 9; otherwise `sign`, filled for that
// character. Nothing outside `font` is read.
inline const uint8_t* GlyphOrSign(const uint8_t* font, uint8_t digit, uint8_t (&sign)[kGlyphBytes]) noexcept {
  if (digit < kGlyphCount) return font + digit * kGlyphBytes;
  FillSignGlyph(static_cast<char>(digit + '0'), sign);
  return sign;
}

}  // namespace tallyburn
