// The characters the current filters draw: the ten digits of the font and
// ':', ';', '-' and ' ' in the same style, as one bit mask per glyph line,
// top line first, so a painter turns a line of text into pixels with a
// shift per column.
#pragma once

#include <array>
#include <cstdint>

#include "glyphs/digit_font.h"

namespace tallyburn {

// Glyph indices: the digits are their values.
enum TextGlyph : uint8_t { kGlyphColon = 10, kGlyphSemicolon, kGlyphMinus, kGlyphSpace, kTextGlyphCount };

// Bit c of line r is ink at glyph column c (column 0 the leftmost), line 0
// the top line as seen.
using GlyphLines = std::array<uint8_t, kGlyphHeight>;
extern const std::array<GlyphLines, kTextGlyphCount> kTextGlyphs;

// The glyph of a text character; kGlyphSpace for anything without one.
constexpr uint8_t TextGlyphOf(char c) noexcept {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  switch (c) {
    case ':': return kGlyphColon;
    case ';': return kGlyphSemicolon;
    case '-': return kGlyphMinus;
    default: return kGlyphSpace;
  }
}

}  // namespace tallyburn
