// The smooth font against FreeType and the font file: its table is what the
// generator makes of the font, and its glyphs are FreeType's own rendering
// of the font within a small error. Skipped, with the reason, where the
// build has no FreeType or the machine no font.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "glyphs/smooth_font.h"

#ifdef TALLYBURN_HAVE_FREETYPE
#include <ft2build.h>
#include FT_FREETYPE_H

#include "glyphs/generator/smooth_font_writer.h"
#endif

namespace tallyburn {
namespace {

const char* const kFontFile = TALLYBURN_SMOOTH_FONT_FILE;

// Why the comparison with FreeType cannot run here, or empty.
std::string Missing() {
#ifndef TALLYBURN_HAVE_FREETYPE
  return "built without FreeType (find_package(Freetype) found none)";
#else
  if (!std::filesystem::exists(kFontFile)) return std::string("no font at ") + kFontFile;
  return {};
#endif
}

TEST(SmoothFontTableTest, IsWhatTheGeneratorMakesOfTheFont) {
  if (const std::string missing = Missing(); !missing.empty()) GTEST_SKIP() << missing;
#ifdef TALLYBURN_HAVE_FREETYPE
  std::string error;
  const std::string made = WriteSmoothFontTable(kFontFile, error);
  ASSERT_FALSE(made.empty()) << error;
  std::ifstream in(TALLYBURN_SOURCE_DIR "/glyphs/smooth_font_table.cpp", std::ios::binary);
  ASSERT_TRUE(in) << "no glyphs/smooth_font_table.cpp";
  std::ostringstream committed;
  committed << in.rdbuf();
  // Not EXPECT_EQ: a difference would print 90 kB twice.
  EXPECT_TRUE(made == committed.str())
      << "glyphs/smooth_font_table.cpp is not what " << kFontFile
      << " gives: remake it with cmake --build build --target update_smooth_font_table";
#endif
}

#ifdef TALLYBURN_HAVE_FREETYPE

struct Error {
  double mean = 0;  // mean absolute difference over the union of both images
  int worst = 0;    // the largest difference of one pixel
};

struct Limits {
  int pixel_size;
  double mean;  // the largest mean error of one glyph
  int worst;    // the largest error of one pixel
};

class SmoothFontAccuracyTest : public testing::TestWithParam<Limits> {
 protected:
  void SetUp() override {
    if (const std::string missing = Missing(); !missing.empty()) GTEST_SKIP() << missing;
    ASSERT_EQ(FT_Init_FreeType(&library_), 0);
    ASSERT_EQ(FT_New_Face(library_, kFontFile, 0, &face_), 0);
  }
  void TearDown() override {
    if (face_ != nullptr) FT_Done_Face(face_);
    if (library_ != nullptr) FT_Done_FreeType(library_);
  }

  // `ours` against FreeType's unhinted anti-aliased rendering of `code`,
  // both placed on the same pen and baseline.
  Error Compare(const SmoothFont& font, char32_t code) {
    const GlyphImage ours = font.Glyph(code);
    EXPECT_EQ(FT_Load_Char(face_, code, FT_LOAD_NO_HINTING), 0);
    EXPECT_EQ(FT_Render_Glyph(face_->glyph, FT_RENDER_MODE_NORMAL), 0);
    const FT_Bitmap& bitmap = face_->glyph->bitmap;
    // Boxes in columns right of the pen and rows down from the baseline.
    const int ft_left = face_->glyph->bitmap_left, ft_top = -face_->glyph->bitmap_top;
    const int ft_width = static_cast<int>(bitmap.width), ft_height = static_cast<int>(bitmap.rows);
    const int our_top = ours.top - font.Ascent();
    const int left = std::min(ft_left, ours.left), top = std::min(ft_top, our_top);
    const int right = std::max(ft_left + ft_width, ours.left + ours.width);
    const int bottom = std::max(ft_top + ft_height, our_top + ours.height);
    Error error;
    if (right <= left || bottom <= top) return error;
    long total = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) {
        int theirs = 0, mine = 0;
        if (x >= ft_left && x < ft_left + ft_width && y >= ft_top && y < ft_top + ft_height)
          theirs = bitmap.buffer[(y - ft_top) * bitmap.pitch + (x - ft_left)];
        if (x >= ours.left && x < ours.left + ours.width && y >= our_top && y < our_top + ours.height)
          mine = ours.coverage[(y - our_top) * ours.width + (x - ours.left)];
        total += std::abs(theirs - mine);
        error.worst = std::max(error.worst, std::abs(theirs - mine));
      }
    error.mean = static_cast<double>(total) / ((right - left) * (bottom - top));
    return error;
  }

  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
};

TEST_P(SmoothFontAccuracyTest, EveryGlyphIsFreeTypesWithinASmallError) {
  const Limits limits = GetParam();
  const SmoothFont font(limits.pixel_size);
  ASSERT_EQ(FT_Set_Pixel_Sizes(face_, 0, font.EmSize()), 0);
  Error largest;
  double sum = 0;
  int glyphs = 0;
  char32_t worst_mean_code = 0, worst_pixel_code = 0;
  for (char32_t code = 0x20; code <= 0xFF; ++code) {
    if (code > 0x7E && code < 0xA0) continue;
    const Error e = Compare(font, code);
    sum += e.mean;
    ++glyphs;
    if (e.mean > largest.mean) largest.mean = e.mean, worst_mean_code = code;
    if (e.worst > largest.worst) largest.worst = e.worst, worst_pixel_code = code;
    EXPECT_LE(e.mean, limits.mean) << "U+" << std::hex << static_cast<unsigned>(code);
    EXPECT_LE(e.worst, limits.worst) << "U+" << std::hex << static_cast<unsigned>(code);
  }
  std::printf(
      "pixel size %d (em %d): %d glyphs, mean error %.4f, largest mean %.4f (U+%04X), worst pixel %d (U+%04X)\n",
      limits.pixel_size, font.EmSize(), glyphs, sum / glyphs, largest.mean, static_cast<unsigned>(worst_mean_code),
      largest.worst, static_cast<unsigned>(worst_pixel_code));
}

// Limits a little above what was measured, for the glyphs of printable ASCII
// and Latin-1 against FreeType 2.12 (pixel size, em, mean of the glyphs'
// mean errors, largest mean, worst pixel): 12 (9): 1.14, 4.63, 13; 16 (12):
// 1.16, 4.16, 17; 24 (20): 0.75, 3.77, 15; 48 (40): 0.46, 1.96, 23; 96 (81):
// 0.22, 1.16, 25; 300 (257): 0.09, 0.34, 44. The differences are on curved
// edges: FreeType flattens curves more coarsely than our 1/64 pixel, and
// against FreeType at 16 times the size, averaged down, ours are the closer.
INSTANTIATE_TEST_SUITE_P(Sizes, SmoothFontAccuracyTest,
                         testing::Values(Limits{12, 6, 20}, Limits{16, 6, 24}, Limits{24, 5, 20}, Limits{48, 3, 32},
                                         Limits{96, 2, 32}, Limits{300, 0.5, 56}),
                         [](const testing::TestParamInfo<Limits>& p) {
                           return std::to_string(p.param.pixel_size) + "px";
                         });

#endif

}  // namespace
}  // namespace tallyburn
