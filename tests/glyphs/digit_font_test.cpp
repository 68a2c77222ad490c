// Facts of the digit font that a wrong table breaks.
#include <gtest/gtest.h>

#include <array>

#include "glyphs/digit_font.h"

namespace tallyburn {
namespace {

uint8_t At(int d, int r, int c) { return kDigitFont[d * kGlyphBytes + r * kGlyphWidth + c]; }

std::array<uint8_t, 8> Row(int d, int r) {
  std::array<uint8_t, 8> row{};
  for (int c = 0; c < 8; ++c) row[c] = At(d, r, c);
  return row;
}

TEST(DigitFontTest, IsTenUnpackedGlyphsOfZeroOr255) {
  static_assert(sizeof kDigitFont == 1120);
  for (const uint8_t b : kDigitFont) ASSERT_TRUE(b == 0 || b == 255) << int(b);
}

TEST(DigitFontTest, InkCountsPerDigit) {
  const int expected[10] = {64, 38, 42, 47, 42, 46, 48, 34, 56, 48};
  int total = 0;
  for (int d = 0; d < 10; ++d) {
    int ink = 0;
    for (int i = 0; i < kGlyphBytes; ++i) ink += kDigitFont[d * kGlyphBytes + i] == 255;
    EXPECT_EQ(ink, expected[d]) << "digit " << d;
    total += ink;
  }
  EXPECT_EQ(total, 465);
}

TEST(DigitFontTest, EveryGlyphTouchesAllFourEdgesOfItsCell) {
  for (int d = 0; d < 10; ++d) {
    bool bottom = false, top = false, left = false, right = false;
    for (int i = 0; i < 8; ++i) {
      bottom |= At(d, 0, i) == 255;
      top |= At(d, 13, i) == 255;
    }
    for (int r = 0; r < 14; ++r) {
      left |= At(d, r, 0) == 255;
      right |= At(d, r, 7) == 255;
    }
    EXPECT_TRUE(bottom && top && left && right) << "digit " << d;
  }
}

TEST(DigitFontTest, RowsStoredBottomUp) {
  using R = std::array<uint8_t, 8>;
  EXPECT_EQ(Row(0, 0), (R{0, 0, 255, 255, 255, 255, 0, 0}));
  EXPECT_EQ(Row(1, 0), (R{255, 255, 255, 255, 255, 255, 255, 255}));   // the one's foot
  EXPECT_EQ(Row(5, 13), (R{255, 255, 255, 255, 255, 255, 255, 255}));  // top bars
  EXPECT_EQ(Row(7, 13), (R{255, 255, 255, 255, 255, 255, 255, 255}));
  EXPECT_EQ(Row(2, 0), (R{255, 255, 255, 255, 255, 255, 255, 255}));  // the two's base
  EXPECT_EQ(At(9, 13, 7), 0);                                         // the table's last byte
}

TEST(DigitFontTest, TheZeroIsSlashedFromUpperRightToLowerLeft) {
  // The stroke's column by storage row, inside the oval's columns 2..5.
  const int stroke[14] = {-1, -1, -1, 2, 2, 3, 3, 4, 4, 5, 5, -1, -1, -1};
  for (int r = 3; r <= 10; ++r)
    for (int c = 2; c <= 5; ++c) EXPECT_EQ(At(0, r, c), c == stroke[r] ? 255 : 0) << "row " << r << " col " << c;
}

TEST(DigitFontTest, TheMinusBarIsItsOwnPictureNotAGlyph) {
  uint8_t minus[kGlyphBytes];
  FillSignGlyph(kMinus, minus);
  int ink = 0;
  for (int r = 0; r < 14; ++r)
    for (int c = 0; c < 8; ++c) {
      ink += minus[r * 8 + c] == 255;
      EXPECT_EQ(minus[r * 8 + c] == 255, (r == 6 || r == 7) && c >= 1 && c <= 6);
    }
  EXPECT_EQ(ink, 12);
  uint8_t other[kGlyphBytes];
  FillSignGlyph('+', other);
  for (const uint8_t b : other) EXPECT_EQ(b, 0);
}

}  // namespace
}  // namespace tallyburn
