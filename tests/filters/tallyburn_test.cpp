// Tallyburn through the built plug-in: digit count, the size check, and the
// bytes it burns in each format.
#include <climits>
#include <ostream>
#include <string>

#include "glyphs/digit_font.h"
#include "tests/support/plugin_host.h"
#include "tests/support/readback.h"

namespace tallyburn::testing {
namespace {

constexpr int kAllFormats[] = {kRgb24, kRgb32, kYuy2, kYv12, kI420};

bool Planar(int pixel_type) { return pixel_type == kYv12 || pixel_type == kI420; }

class TallyburnTest : public PluginHost {
 protected:
  PClip Number(const PClip& src, int offset = 0, int left = 0) {
    return Apply("Tallyburn", {{"", src}, {"offset", offset}, {"left", left}});
  }

  // The glyph (or minus bar) byte of a character at storage row r, column c.
  static uint8_t GlyphByte(char ch, int r, int c) {
    if (ch >= '0' && ch <= '9') return kDigitFont[(ch - '0') * kGlyphBytes + r * kGlyphWidth + c];
    return SignPixel(ch, r, c);
  }

  // One cell of character `ch` whose left pixel is picture column px:
  // every byte as this filter writes it, compared with the source beneath.
  void ExpectCell(const PVideoFrame& out, const PVideoFrame& src, int pixel_type, int px, char ch) {
    SCOPED_TRACE(std::string("cell '") + ch + "' at pixel " + std::to_string(px));
    const int height = out->GetHeight();
    for (int r = 0; r < kGlyphHeight; ++r) {
      for (int c = 0; c < kCellWidth; ++c) {
        const bool blank = c >= kGlyphWidth;
        const uint8_t g = blank ? 0 : GlyphByte(ch, r, c);
        const int x = px + c;
        switch (pixel_type) {
          case kRgb24:
            for (int k = 0; k < 3; ++k) ASSERT_EQ(ByteOf(env, out, PLANAR_Y, r, 3 * x + k), g) << r << "," << c;
            break;
          case kRgb32:
            for (int k = 0; k < 3; ++k) ASSERT_EQ(ByteOf(env, out, PLANAR_Y, r, 4 * x + k), g) << r << "," << c;
            ASSERT_EQ(ByteOf(env, out, PLANAR_Y, r, 4 * x + 3), blank ? 0 : ByteOf(env, src, PLANAR_Y, r, 4 * x + 3));
            break;
          case kYuy2:
            ASSERT_EQ(ByteOf(env, out, PLANAR_Y, height - 1 - r, 2 * x), g) << r << "," << c;
            ASSERT_EQ(ByteOf(env, out, PLANAR_Y, height - 1 - r, 2 * x + 1), 128) << r << "," << c;
            break;
          default: ASSERT_EQ(ByteOf(env, out, PLANAR_Y, height - 1 - r, x), g) << r << "," << c;
        }
      }
    }
  }

  // Bytes the box may change: the cells in the bottom 14 lines and, in
  // YV12/I420, the 7 chroma lines under them.
  static std::vector<Region> Box(int pixel_type, int width, int height, int digits, bool left) {
    const int bpp = pixel_type == kRgb24 ? 3 : pixel_type == kRgb32 ? 4 : pixel_type == kYuy2 ? 2 : 1;
    const int first = left ? 0 : width - 10 * digits - (Planar(pixel_type) ? 2 : 0);
    const int first_line = pixel_type == kRgb24 || pixel_type == kRgb32 ? 0 : height - 14;
    std::vector<Region> box{{PLANAR_Y, first_line, first_line + 13, first * bpp, (first + 10 * digits) * bpp - 1}};
    if (Planar(pixel_type))
      for (const int plane : {PLANAR_U, PLANAR_V})
        box.push_back({plane, height / 2 - 7, height / 2 - 1, first / 2, first / 2 + 5 * digits - 1});
    return box;
  }

  static constexpr int kCellWidth = 10;  // 8 glyph and 2 blank columns
};

struct DigitCase {
  int num_frames;
  int offset;
  int digits;
  const char* frame0;  // what frame 0 shows
};

void PrintTo(const DigitCase& c, std::ostream* os) { *os << c.num_frames << " frames, offset " << c.offset; }

class TallyburnDigitsTest : public TallyburnTest, public ::testing::WithParamInterface<DigitCase> {};

TEST_P(TallyburnDigitsTest, DigitCountSetsTheSmallestAcceptedSize) {
  const DigitCase& d = GetParam();
  const int width = 10 * d.digits + 2;
  for (const int pixel_type : kAllFormats) {
    SCOPED_TRACE(FormatName(pixel_type));
    const auto params = [&](int w, int h) {
      return SourceParams{.width = w, .height = h, .pixel_type = pixel_type, .num_frames = d.num_frames};
    };
    const PClip src = Source(params(width, 14));
    const PClip f = Number(src, d.offset);
    const PVideoFrame out = env.FetchFrame(f, 0);
    EXPECT_EQ(frameserver::ReadNumber(*out.get(), pixel_type, d.digits, false), d.frame0);
    ExpectChangedOnlyIn(env, out, env.FetchFrame(src, 0), Box(pixel_type, width, 14, d.digits, false));

    EXPECT_EQ(ErrorOf("Tallyburn", {{"", Source(params(width - 1, 14))}, {"", d.offset}}),
              "Tallyburn: video is too small");
    EXPECT_EQ(ErrorOf("Tallyburn", {{"", Source(params(width, 13))}, {"", d.offset}}), "Tallyburn: video is too small");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TallyburnDigitsTest,
    ::testing::Values(DigitCase{9, 0, 1, "0"}, DigitCase{10, 0, 2, "00"}, DigitCase{99, 0, 2, "00"},
                      DigitCase{100, 0, 3, "000"}, DigitCase{0, 0, 1, "0"}, DigitCase{100, -100, 1, "-"},
                      DigitCase{100, -91, 1, "-"}, DigitCase{5, 4, 1, "4"}, DigitCase{100, 999999900, 10, "0999999900"},
                      DigitCase{100, INT_MAX, 1, "2"},  // the sum wraps negative
                      DigitCase{INT_MAX, 0, 10, "0000000000"}, DigitCase{INT_MIN, -1, 10, "-000000001"}),
    [](const auto& p) {
      const auto sign = [](int v) {
        return (v < 0 ? "m" : "") + std::to_string(v < 0 ? -static_cast<long long>(v) : v);
      };
      return "frames" + sign(p.param.num_frames) + "_offset" + sign(p.param.offset);
    });

// Right-aligned cells in each format, 640x480 and 100 frames (3 digits):
// where the cells start, what they show, and the bytes the box may change.
struct CellsCase {
  int pixel_type;
  int n;
  const char* text;
  int first_pixel;
  std::vector<Region> changed;
};

void PrintTo(const CellsCase& c, std::ostream* os) { *os << FormatName(c.pixel_type); }

class TallyburnCellsTest : public TallyburnTest, public ::testing::WithParamInterface<CellsCase> {};

TEST_P(TallyburnCellsTest, CellsAtTheRightEdgeAndNothingElse) {
  const CellsCase& c = GetParam();
  const PClip src = Source({.width = 640, .height = 480, .pixel_type = c.pixel_type, .num_frames = 100});
  const PVideoFrame out = env.FetchFrame(Number(src), c.n);
  const PVideoFrame in = env.FetchFrame(src, c.n);
  for (int i = 0; i < 3; ++i) ExpectCell(out, in, c.pixel_type, c.first_pixel + 10 * i, c.text[i]);
  if (Planar(c.pixel_type)) {
    for (const int plane : {PLANAR_U, PLANAR_V})
      for (int line = 233; line <= 239; ++line)
        for (int col = 304; col <= 318; ++col)
          ASSERT_EQ(ByteOf(env, out, plane, line, col), 128) << plane << " " << line << " " << col;
  }
  ExpectChangedOnlyIn(env, out, in, c.changed);
}

// RGB stores the bottom line first; YV12 and I420 end two pixels short of
// the edge, and their columns 638-639 and chroma column 319 keep the source.
INSTANTIATE_TEST_SUITE_P(
    Formats, TallyburnCellsTest,
    ::testing::Values(
        CellsCase{kRgb24, 7, "007", 610, {{PLANAR_Y, 0, 13, 1830, 1919}}},
        CellsCase{kRgb32, 42, "042", 610, {{PLANAR_Y, 0, 13, 2440, 2559}}},
        CellsCase{kYuy2, 58, "058", 610, {{PLANAR_Y, 466, 479, 1220, 1279}}},
        CellsCase{kYv12,
                  69,
                  "069",
                  608,
                  {{PLANAR_Y, 466, 479, 608, 637}, {PLANAR_U, 233, 239, 304, 318}, {PLANAR_V, 233, 239, 304, 318}}},
        CellsCase{kI420,
                  69,
                  "069",
                  608,
                  {{PLANAR_Y, 466, 479, 608, 637}, {PLANAR_U, 233, 239, 304, 318}, {PLANAR_V, 233, 239, 304, 318}}}),
    [](const auto& p) { return std::string(FormatName(p.param.pixel_type)); });

TEST_F(TallyburnTest, Rgb24BlankColumnsAreBlack) {
  const PClip src = Source({.width = 640, .height = 480, .pixel_type = kRgb24, .num_frames = 100});
  const PVideoFrame out = env.FetchFrame(Number(src), 7);
  ASSERT_EQ(out->GetRowSize(), 1920);
  for (int line = 0; line < 14; ++line)
    for (int b = 1854; b <= 1859; ++b) EXPECT_EQ(ByteOf(env, out, PLANAR_Y, line, b), 0);
}

TEST_F(TallyburnTest, LeftAlignedCellsStartAtByteZeroForAnyNonZeroLeft) {
  const PClip src = Source({.width = 640, .height = 480, .pixel_type = kRgb24, .num_frames = 100});
  const PVideoFrame in = env.FetchFrame(src, 7);
  for (const int left : {1, -1, 7, INT_MIN}) {
    SCOPED_TRACE(left);
    const PVideoFrame out = env.FetchFrame(Number(src, 0, left), 7);
    ExpectCell(out, in, kRgb24, 0, '0');
    ExpectCell(out, in, kRgb24, 10, '0');
    ExpectCell(out, in, kRgb24, 20, '7');
    ExpectChangedOnlyIn(env, out, in, {{PLANAR_Y, 0, 13, 0, 89}});
  }
}

TEST_F(TallyburnTest, OnesAndSevensStandUprightInEveryFormat) {
  for (const int pixel_type : kAllFormats) {
    SCOPED_TRACE(FormatName(pixel_type));
    const PClip src = Source({.width = 96, .height = 30, .pixel_type = pixel_type, .num_frames = 100});
    const PVideoFrame out = env.FetchFrame(Number(src), 17);
    const PVideoFrame in = env.FetchFrame(src, 17);
    const int first = 96 - 30 - (Planar(pixel_type) ? 2 : 0);
    ExpectCell(out, in, pixel_type, first + 10, '1');
    ExpectCell(out, in, pixel_type, first + 20, '7');
    EXPECT_EQ(frameserver::ReadNumber(*out.get(), pixel_type, 3, false), "017");
    ExpectChangedOnlyIn(env, out, in, Box(pixel_type, 96, 30, 3, false));
  }
}

TEST_F(TallyburnTest, OffsetAndFramesPastTheEnd) {
  const PClip src = Source({.width = 320, .height = 240, .pixel_type = kYv12, .num_frames = 100});
  EXPECT_EQ(frameserver::ReadNumber(*env.FetchFrame(Number(src, 5), 0).get(), kYv12, 3, false), "005");
  EXPECT_EQ(frameserver::ReadNumber(*env.FetchFrame(Number(src, 5), 94).get(), kYv12, 3, false), "099");
  // More digits than the clip's count: the leading ones.
  EXPECT_EQ(frameserver::ReadNumber(*env.FetchFrame(Number(src), 1234).get(), kYv12, 3, false), "123");
}

TEST_F(TallyburnTest, NegativeNumbersShowAMinusBar) {
  for (const int pixel_type : kAllFormats) {
    SCOPED_TRACE(FormatName(pixel_type));
    const PClip src = Source({.width = 64, .height = 20, .pixel_type = pixel_type, .num_frames = 100});
    const PClip f = Number(src, -10);  // 90: two digits
    const PVideoFrame out = env.FetchFrame(f, 3);
    EXPECT_EQ(frameserver::ReadNumber(*out.get(), pixel_type, 2, false), "-7");
    ExpectCell(out, env.FetchFrame(src, 3), pixel_type, 64 - 20 - (Planar(pixel_type) ? 2 : 0), '-');
    EXPECT_EQ(frameserver::ReadNumber(*env.FetchFrame(f, 0).get(), pixel_type, 2, false), "-1");  // "-10", cut
  }
  // n + offset wraps past INT_MAX: still drawn, as a negative number.
  const PClip src = Source({.width = 200, .height = 20, .pixel_type = kRgb24, .num_frames = INT_MAX});
  EXPECT_EQ(frameserver::ReadNumber(*env.FetchFrame(Number(src, INT_MAX), 1).get(), kRgb24, 1, false), "-");
  EXPECT_EQ(frameserver::ReadNumber(*env.FetchFrame(Number(src, INT_MIN), 0).get(), kRgb24, 1, false), "-");
}

TEST_F(TallyburnTest, ASharedFrameIsCopiedNotWrittenThrough) {
  const PClip shared = Source({.width = 64, .height = 20, .pixel_type = kYv12, .shared_frames = true});
  const PClip fresh = Source({.width = 64, .height = 20, .pixel_type = kYv12});
  const PVideoFrame held = shared->GetFrame(12, &env);
  const size_t copies = env.frames().copies();
  const PVideoFrame out = env.FetchFrame(Number(shared), 12);
  EXPECT_EQ(env.frames().copies(), copies + 1);
  EXPECT_NE(out.get(), held.get());
  EXPECT_EQ(frameserver::ReadNumber(*out.get(), kYv12, 3, false), "012");
  EXPECT_TRUE(Differences(env, held, env.FetchFrame(fresh, 12)).empty());
}

}  // namespace
}  // namespace tallyburn::testing
