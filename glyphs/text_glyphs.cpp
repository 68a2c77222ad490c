// The separators, drawn like the digit font: 2-pixel strokes in an 8x14
// cell, in the font's storage order (row 0 the bottom line as seen, so the
// pictures read upside down). The colon's dots stand where FrameTC puts
// them (rows 4-5 and 8-9); the semicolon, which drop-frame labels show
// before the frames, has a tail under its lower dot; the minus is the bar
// Tallyburn draws for negative numbers.
#include "glyphs/text_glyphs.h"

namespace tallyburn {
namespace {

constexpr const char* kSeparators[kGlyphHeight] = {
    // :        ;        -        space
    "........ ........ ........ ........",  // row  0
    "........ ........ ........ ........",  // row  1
    "........ ..##.... ........ ........",  // row  2
    "........ ...##... ........ ........",  // row  3
    "...##... ...##... ........ ........",  // row  4
    "...##... ...##... ........ ........",  // row  5
    "........ ........ .######. ........",  // row  6
    "........ ........ .######. ........",  // row  7
    "...##... ...##... ........ ........",  // row  8
    "...##... ...##... ........ ........",  // row  9
    "........ ........ ........ ........",  // row 10
    "........ ........ ........ ........",  // row 11
    "........ ........ ........ ........",  // row 12
    "........ ........ ........ ........",  // row 13
};

std::array<GlyphLines, kTextGlyphCount> Build() {
  std::array<GlyphLines, kTextGlyphCount> glyphs{};
  for (int line = 0; line < kGlyphHeight; ++line) {
    const int row = kGlyphHeight - 1 - line;  // storage row of this line
    for (int g = 0; g < kTextGlyphCount; ++g) {
      uint8_t bits = 0;
      for (int c = 0; c < kGlyphWidth; ++c) {
        const bool ink = g < kGlyphCount ? kDigitFont[g * kGlyphBytes + row * kGlyphWidth + c] == kInk
                                         : kSeparators[row][(g - kGlyphCount) * (kGlyphWidth + 1) + c] == '#';
        bits |= static_cast<uint8_t>(ink ? 1u << c : 0u);
      }
      glyphs[g][line] = bits;
    }
  }
  return glyphs;
}

}  // namespace

// Built when the library loads, from the digit font (constant-initialized).
const std::array<GlyphLines, kTextGlyphCount> kTextGlyphs = Build();

}  // namespace tallyburn
