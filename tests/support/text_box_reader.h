// Reads a text box of the current filters back out of a frame of any
// format, as a viewer would: each glyph pixel sampled at its centre in the
// luma (or green) plane, matched against the glyph set.
#pragma once

#include <string>
#include <vector>

#include "core/pixel_format.h"
#include "frameserver/environment.h"
#include "tests/support/plugin_host.h"

namespace tallyburn::testing {

// Where a box of `cells` characters at `scale` must stand, worked out from
// the placement rules directly: keypad alignment, margin, then widened to
// whole chroma samples.
struct ExpectedBox {
  int x0, y0, x1, y1;  // picture pixels, top-down, one past the end
  int text_x, text_y;
  int cells, scale;
};
ExpectedBox WhereBoxGoes(const PixelFormat& f, int width, int height, int cells, int scale, int align, int margin);

// The text in the box: a character per cell, '?' where a cell matches no
// glyph.
std::string ReadBox(Environment& env, const PVideoFrame& frame, const PixelFormat& f, const ExpectedBox& box);

// Fails the test where a frame differs from its source other than as a
// box must: every sample of the box in the drawn planes is ink or
// background, chroma under it is neutral, alpha is unchanged, and nothing
// outside it changed.
// `levels`: the two levels the box is drawn in, as fractions of the luma
// range (of full scale in RGB); the text's ink and background by default.
struct BoxLevels {
  double low = -1, high = -1;
};
void ExpectOnlyTheBox(Environment& env, const PVideoFrame& out, const PVideoFrame& src, const PixelFormat& f,
                      const ExpectedBox& box, BoxLevels levels = {});

}  // namespace tallyburn::testing
