// The smooth font's layout, its characters, its drawing and its UTF-8.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "glyphs/smooth_font.h"
#include "glyphs/utf8.h"

namespace tallyburn {
namespace {

int Ink(const GlyphImage& g) {
  int ink = 0;
  for (int i = 0; i < g.width * g.height; ++i) ink += g.coverage[i];
  return ink;
}

bool SameImage(const GlyphImage& a, const GlyphImage& b) {
  return a.width == b.width && a.height == b.height && a.left == b.left && a.top == b.top &&
         std::equal(a.coverage, a.coverage + a.width * a.height, b.coverage);
}

// The first and last rows of `g` with ink, in cell rows.
std::pair<int, int> InkRows(const GlyphImage& g) {
  int first = INT_MAX, last = INT_MIN;
  for (int r = 0; r < g.height; ++r)
    for (int c = 0; c < g.width; ++c)
      if (g.coverage[r * g.width + c] != 0) {
        first = std::min(first, g.top + r);
        last = std::max(last, g.top + r);
      }
  return {first, last};
}

TEST(SmoothFontTest, RefusesPixelSizesOutsideEightTo400) {
  for (const int size : {INT_MIN, -1, 0, 7, 401, INT_MAX})
    EXPECT_THROW(SmoothFont{size}, std::invalid_argument) << size;
  EXPECT_EQ(SmoothFont(8).PixelSize(), 8);
  EXPECT_EQ(SmoothFont(400).PixelSize(), 400);
}

// At every size the cell holds every glyph's ink, the baseline is where
// flat letters stand, and the em fills the cell as far as the font's
// tallest and deepest glyphs allow.
TEST(SmoothFontTest, CellHoldsEveryGlyphAndLettersStandOnTheBaseline) {
  int last_em = 0;
  for (int size = SmoothFont::kMinPixelSize; size <= SmoothFont::kMaxPixelSize; size += size < 64 ? 1 : 7) {
    SCOPED_TRACE("pixel size " + std::to_string(size));
    const SmoothFont font(size);
    ASSERT_EQ(font.Ascent() + font.Descent(), size);
    ASSERT_GT(font.Descent(), 0);
    // DejaVu Sans Mono spans 2384 units from its deepest to its tallest
    // glyph over an em of 2048, and advances 1233.
    EXPECT_GE(font.EmSize(), last_em);
    EXPECT_LE(font.EmSize() * 2384, size * 2048);
    EXPECT_GT((font.EmSize() + 2) * 2384, size * 2048);
    EXPECT_NEAR(font.Advance(), font.EmSize() * 1233.0 / 2048, 0.5);
    last_em = font.EmSize();
    for (char32_t code = 0; code < 256; ++code) {
      const GlyphImage g = font.Glyph(code);
      ASSERT_GE(g.top, 0) << int(code);
      ASSERT_LE(g.top + g.height, size) << int(code);
    }
    // H, E and x stand on the baseline; H and E reach the same height.
    for (const char32_t flat : {U'H', U'E', U'x'}) EXPECT_EQ(InkRows(font.Glyph(flat)).second, font.Ascent() - 1);
    EXPECT_EQ(InkRows(font.Glyph(U'H')).first, InkRows(font.Glyph(U'E')).first);
    EXPECT_GT(InkRows(font.Glyph(U'x')).first, InkRows(font.Glyph(U'H')).first);
    // p and g go below it.
    EXPECT_GT(InkRows(font.Glyph(U'p')).second, font.Ascent() - 1);
  }
}

TEST(SmoothFontTest, PrintableAsciiAndLatin1HaveGlyphsAndOthersTheReplacement) {
  const SmoothFont font(24);
  const GlyphImage replacement = font.Glyph(kReplacementCharacter);
  ASSERT_GT(Ink(replacement), 0);
  std::vector<char32_t> own;
  for (char32_t c = 0x20; c <= 0x7E; ++c) own.push_back(c);
  for (char32_t c = 0xA0; c <= 0xFF; ++c) own.push_back(c);
  for (const char32_t c : own) {
    EXPECT_TRUE(font.HasGlyph(c)) << int(c);
    EXPECT_FALSE(SameImage(font.Glyph(c), replacement)) << int(c);
    const bool blank = c == U' ' || c == 0xA0;
    EXPECT_EQ(Ink(font.Glyph(c)) == 0, blank) << int(c);
  }
  // Letters that differ only in their accents have different glyphs.
  EXPECT_FALSE(SameImage(font.Glyph(U'e'), font.Glyph(U'é')));
  EXPECT_FALSE(SameImage(font.Glyph(U'é'), font.Glyph(U'è')));
  EXPECT_FALSE(SameImage(font.Glyph(U'u'), font.Glyph(U'ü')));
  for (const unsigned c : {0x00u, 0x09u, 0x1Fu, 0x7Fu, 0x85u, 0x9Fu, 0x100u, 0x20ACu, 0xD800u, 0x1F600u, 0x10FFFFu}) {
    EXPECT_FALSE(font.HasGlyph(c)) << c;
    EXPECT_TRUE(SameImage(font.Glyph(c), replacement)) << c;
  }
}

struct Canvas {
  int width, height;
  std::vector<uint8_t> pixels;
  Canvas(int w, int h, uint8_t fill) : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill) {}
  CoverageView View() { return {pixels.data(), width, width, height}; }
  uint8_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Text drawn anywhere, partly or wholly outside the buffer, gives the
// pixels of the same text drawn whole, where those fall in the buffer,
// and keeps what was there where that is greater.
TEST(SmoothFontTest, DrawTextClipsToTheBufferAndKeepsGreaterCoverage) {
  const SmoothFont font(30);
  const std::string text = "Ça 9ñ\xE2\x82\xAC|";  // the euro sign shows the replacement glyph
  const int chars = static_cast<int>(CountUtf8(text));
  ASSERT_EQ(chars, 7);
  const int margin = 40;
  Canvas whole(font.TextWidth(text) + 2 * margin, font.PixelSize() + 2 * margin, 0);
  ASSERT_EQ(font.DrawText(text, whole.View(), margin, margin), margin + chars * font.Advance());
  int ink = 0;
  for (const uint8_t p : whole.pixels) ink += p;
  ASSERT_GT(ink, 0);

  struct Case {
    int width, height, x, y;
  };
  const Case cases[] = {
      {40, 20, -25, -10},                                    // cut on the left and top
      {60, 25, 20, 5},                                       // cut on the right and bottom
      {font.TextWidth(text), font.PixelSize(), 0, 0},        // the box exactly
      {30, 30, -5 * font.Advance(), -font.PixelSize() / 2},  // inside the text
      {50, 50, -1000, 0},                                    // all of it left of the buffer
      {50, 50, 0, 1000},                                     // all of it below
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.x << "," << c.y);
    Canvas part(c.width, c.height, 100);
    EXPECT_EQ(font.DrawText(text, part.View(), c.x, c.y), c.x + chars * font.Advance());
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        const int wx = x - c.x + margin, wy = y - c.y + margin;
        const bool inside = wx >= 0 && wy >= 0 && wx < whole.width && wy < whole.height;
        const uint8_t expected = std::max<uint8_t>(100, inside ? whole.At(wx, wy) : 0);
        ASSERT_EQ(part.At(x, y), expected) << x << "," << y;
      }
  }
}

TEST(SmoothFontTest, DrawTextPlacesEachGlyphAtItsCell) {
  const SmoothFont font(17);
  Canvas canvas(4 * font.Advance(), font.PixelSize(), 0);
  font.DrawText("0A\xC3", canvas.View(), 0, 0);  // a cut sequence: the replacement
  for (int i = 0; i < 3; ++i) {
    const GlyphImage g = font.Glyph(i == 0 ? U'0' : i == 1 ? U'A' : kReplacementCharacter);
    for (int r = 0; r < g.height; ++r)
      for (int c = 0; c < g.width; ++c) {
        const int x = i * font.Advance() + g.left + c;
        if (x < 0 || x >= canvas.width) continue;
        // Neighbours may overlap a column; the maximum is what stays.
        ASSERT_GE(canvas.At(x, g.top + r), g.coverage[r * g.width + c]) << i;
      }
  }
  // Nothing in the fourth cell, which has no character.
  for (int y = 0; y < canvas.height; ++y)
    for (int x = 3 * font.Advance() + 1; x < canvas.width; ++x) ASSERT_EQ(canvas.At(x, y), 0);
}

std::u32string Decode(const std::string& bytes) {
  std::u32string out;
  // An exact-size copy: the sanitizers see any read past its end.
  const std::vector<char> exact(bytes.begin(), bytes.end());
  const std::string_view text(exact.data(), exact.size());
  for (size_t pos = 0; pos < text.size();) {
    const size_t before = pos;
    out += DecodeUtf8(text, pos);
    if (pos <= before || pos > text.size()) return U"<bad position>";
  }
  if (out.size() != CountUtf8(text)) return U"<bad count>";
  return out;
}

TEST(Utf8Test, DecodesWellFormedTextAndReplacesEachMaximalBadPart) {
  const char32_t R = kReplacementCharacter;
  const struct {
    std::string bytes;
    std::u32string expected;
  } cases[] = {
      {"", U""},
      {"Az~", U"Az~"},
      {"\xC3\xA9\xC3\xBC\xC3\xB1\xC3\x9F", U"éüñß"},
      {"\xC2\x80\xDF\xBF", {0x80, 0x7FF}},
      {"\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF", {0x800, 0x20AC, 0xFFFF}},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", {0x10000, 0x10FFFF}},
      {"\x80", {R}},                       // a lone continuation byte
      {"\xC0\xAF", {R, R}},                // an overlong '/'
      {"\xC1\xBF", {R, R}},                // overlong
      {"\xE0\x9F\xBF", {R, R, R}},         // overlong three bytes
      {"\xF0\x8F\xBF\xBF", {R, R, R, R}},  // overlong four bytes
      {"\xED\xA0\x80", {R, R, R}},         // a surrogate
      {"\xF4\x90\x80\x80", {R, R, R, R}},  // past U+10FFFF
      {"\xF5\x80", {R, R}},                // no such lead byte
      {"\xFF"
       "a",
       {R, U'a'}},
      {"\xE2\x82"
       "a",
       {R, U'a'}},            // cut short, then a character
      {"\xF0\x9F\x98", {R}},  // cut short by the end
      {"\xE2", {R}},
      {"\xC3", {R}},
      {"a\xC3\xC3\xA9", {U'a', R, U'é'}},  // a lead byte ends a cut sequence
      {"\xE2\x82\xE2\x82\xAC", {R, 0x20AC}},
  };
  for (const auto& c : cases) {
    std::string hex;
    for (const unsigned char b : c.bytes) hex += std::to_string(b) + " ";
    EXPECT_EQ(Decode(c.bytes), c.expected) << hex;
  }
}

}  // namespace
}  // namespace tallyburn
