// The outlines of the smooth font, as the generator in glyphs/generator/
// writes them from the font file (glyphs/smooth_font_table.cpp): every
// printable ASCII and Latin-1 character the font has, and a replacement
// glyph shown for any other character.
#pragma once

#include <cstdint>

namespace tallyburn {

// One step of a glyph's contours in font units, y up: a move starts a
// contour at one point, a line goes to one point, a conic (quadratic
// Bezier) goes through a control point to an end point. Every contour is
// closed back to its start.
enum class OutlineStep : uint8_t { kMove, kLine, kConic };

struct OutlineGlyph {
  uint32_t code;        // Unicode code point
  uint32_t first_step;  // into SmoothFontTable::steps
  uint32_t step_count;
  uint32_t first_point;  // into SmoothFontTable::points, two int16 per point
  // The box of all points, control points included: the ink never leaves it.
  int16_t x_min, y_min, x_max, y_max;
};

struct SmoothFontTable {
  const char* name;
  int units_per_em;
  int advance;  // the one advance of the monospace font, in font units
  // The extent of every glyph in the table above and below the baseline,
  // in font units (y_max and -y_min at their widest).
  int ascent;
  int descent;
  uint32_t replacement_code;   // the code of the glyph shown for what the table lacks
  const OutlineGlyph* glyphs;  // sorted by code
  int glyph_count;
  const OutlineStep* steps;
  const int16_t* points;  // x, y pairs
};

extern const SmoothFontTable kSmoothFontTable;

}  // namespace tallyburn
