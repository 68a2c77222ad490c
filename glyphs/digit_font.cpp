// The digit font as a picture: one string per storage row (row 0, the bottom
// line of each digit as seen, first), the ten digits side by side, '#' ink
// and '.' background. Because row 0 comes first the digits read upside down.
#include "glyphs/digit_font.h"

namespace tallyburn {
namespace {

constexpr const char* kPicture[kGlyphHeight] = {
    "..####.. ######## ######## ..####.. ....##.. ..####.. ..####.. ...##... ..####.. ####....",  // row  0
    ".##..##. ...##... ##...... .##..##. ....##.. .##..##. .##..##. ...##... .##..##. ...##...",  // row  1
    "##....## ...##... ##...... ##....## ######## ##....## ##....## ...##... ##....## ....##..",  // row  2
    "###...## ...##... .##..... ##....## ##..##.. ##....## ##....## ...##... ##....## .....##.",  // row  3
    "###...## ...##... ..##.... ......## ##..##.. ......## ##....## ....##.. ##....## .....##.",  // row  4
    "##.#..## ...##... ...##... ......## ##..##.. ......## ##....## ....##.. ##....## ......##",  // row  5
    "##.#..## ...##... ....##.. ......## .##.##.. ......## ##...##. ....##.. .##..##. ..######",  // row  6
    "##..#.## ...##... .....##. ..#####. .##..... .....##. ######.. .....##. ..####.. .##...##",  // row  7
    "##..#.## ...##... ......## ......## .##..... ######.. ##...... .....##. .##..##. ##....##",  // row  8
    "##...### ...##... ......## ......## ..##.... ##...... .##..... .....##. ##....## ##....##",  // row  9
    "##...### ...##... ##....## ##....## ..##.... ##...... .##..... ......## ##....## ##....##",  // row 10
    "##....## #####... ##....## ##....## ..##.... ##...... ..##.... ......## ##....## ##....##",  // row 11
    ".##..##. ..###... .##..##. .##..##. ...##... ##...... ...##... ......## .##..##. .##..##.",  // row 12
    "..####.. ...##... ..####.. ..####.. ...##... ######## ....#### ######## ..####.. ..####..",  // row 13
};

constexpr DigitFont Unpack() {
  DigitFont font{};
  for (int r = 0; r < kGlyphHeight; ++r) {
    for (int d = 0; d < kGlyphCount; ++d) {
      for (int c = 0; c < kGlyphWidth; ++c) {
        // Each digit takes 8 characters plus one separating space.
        const char pixel = kPicture[r][d * (kGlyphWidth + 1) + c];
        font[d * kGlyphBytes + r * kGlyphWidth + c] = pixel == '#' ? kInk : kBackground;
      }
    }
  }
  return font;
}

}  // namespace

// Unpacked at compile time: the library holds the plain 1120 bytes.
constexpr DigitFont kDigitFont = Unpack();

}  // namespace tallyburn
