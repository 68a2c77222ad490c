// The timecode box through the built plug-in: where it lands and every byte
// it writes, in each format and orientation.
#include <climits>
#include <string>
#include <tuple>
#include <vector>

#include "glyphs/digit_font.h"
#include "tests/support/plugin_host.h"
#include "tests/support/readback.h"

namespace tallyburn::testing {
namespace {

constexpr int kAllFormats[] = {kRgb24, kRgb32, kYuy2, kYv12, kI420};

// Box columns of the eight cells and of the colon dots; box rows of the dots.
constexpr int kCellColumns[8] = {0, 10, 24, 34, 48, 58, 72, 82};
constexpr int kDotColumns[6] = {20, 21, 44, 45, 68, 69};

bool Planar(int t) { return t == kYv12 || t == kI420; }
bool Rgb(int t) { return t == kRgb24 || t == kRgb32; }
int Bpp(int t) { return t == kRgb24 ? 3 : t == kRgb32 ? 4 : t == kYuy2 ? 2 : 1; }

bool IsDot(int column, int row) {
  const bool dot_row = row == 4 || row == 5 || row == 8 || row == 9;
  for (const int c : kDotColumns)
    if (c == column) return dot_row;
  return false;
}

enum class Kind { kInk, kBackground, kBlank, kDot };

class FrameTCRenderTest : public PluginHost {
 protected:
  PClip Timecode(const PClip& src, int offset, int orientation, int y) {
    return Apply("FrameTC", {{"", src}, {"offset", offset}, {"orientation", orientation}, {"y", y}});
  }

  // What box column `col`, box row `row` holds for the text.
  static Kind KindAt(const std::string& text, int col, int row) {
    if (IsDot(col, row)) return Kind::kDot;
    for (int k = 0; k < 8; ++k) {
      const int c = col - kCellColumns[k];
      if (c < 0 || c >= 8) continue;
      const char ch = text[k];
      const uint8_t g = ch >= '0' && ch <= '9' ? kDigitFont[(ch - '0') * 112 + row * 8 + c] : SignPixel(ch, row, c);
      return g ? Kind::kInk : Kind::kBackground;
    }
    return Kind::kBlank;
  }

  // Every byte of the 92x14 box at picture column x, raised y rows, and in
  // YV12/I420 the chroma box; then nothing else may differ from the source.
  void ExpectBox(const PVideoFrame& out, const PVideoFrame& src, int t, int x, int y, const std::string& text) {
    SCOPED_TRACE(std::string(FormatName(t)) + " x " + std::to_string(x) + " y " + std::to_string(y) + " '" + text +
                 "'");
    const int height = out->GetHeight();
    const int bpp = Bpp(t);
    for (int row = 0; row < 14; ++row) {
      const int line = Rgb(t) ? y + row : height - 1 - y - row;
      for (int col = 0; col < 92; ++col) {
        const int b = (x + col) * bpp;
        const Kind kind = KindAt(text, col, row);
        const auto at = [&](int k) { return ByteOf(env, out, PLANAR_Y, line, b + k); };
        if (Rgb(t)) {
          const uint8_t v = kind == Kind::kInk || kind == Kind::kDot ? 255 : 0;
          ASSERT_TRUE(at(0) == v && at(1) == v && at(2) == v) << "row " << row << " col " << col;
          if (t == kRgb32) {
            const bool keeps = kind == Kind::kInk || kind == Kind::kBackground;
            ASSERT_EQ(at(3), keeps ? ByteOf(env, src, PLANAR_Y, line, b + 3) : 0)
                << "alpha, row " << row << " col " << col;
          }
        } else {
          const uint8_t luma = kind == Kind::kInk || kind == Kind::kDot ? 235 : kind == Kind::kBackground ? 16 : 0;
          ASSERT_EQ(at(0), luma) << "row " << row << " col " << col;
          if (t == kYuy2) {
            ASSERT_EQ(at(1), 128) << "chroma, row " << row << " col " << col;
          }
        }
      }
    }
    const int first_line = Rgb(t) ? y : height - 14 - y;
    std::vector<Region> allowed{{PLANAR_Y, first_line, first_line + 13, x * bpp, (x + 92) * bpp - 1}};
    if (Planar(t)) {
      const int chroma_line = height / 2 - y / 2 - 7;
      for (const int plane : {PLANAR_U, PLANAR_V}) {
        for (int l = chroma_line; l < chroma_line + 7; ++l)
          for (int c = x / 2; c < x / 2 + 46; ++c)
            ASSERT_EQ(ByteOf(env, out, plane, l, c), 128) << plane << " " << l << " " << c;
        allowed.push_back({plane, chroma_line, chroma_line + 6, x / 2, x / 2 + 45});
      }
    }
    ExpectChangedOnlyIn(env, out, src, allowed);
  }

  void RenderAndCheck(int t, int width, int height, int orientation, int y, int x, int n, const std::string& text,
                      unsigned fps = 25, int offset = 0) {
    const PClip src = Source({.width = width, .height = height, .pixel_type = t, .fps_numerator = fps});
    const PVideoFrame out = env.FetchFrame(Timecode(src, offset, orientation, y), n);
    ExpectBox(out, env.FetchFrame(src, n), t, x, y, text);
  }
};

// 01:02:03:04 at 25 fps is frame 93079.
constexpr int kFrame1h2m3s4f = ((1 * 60 + 2) * 60 + 3) * 25 + 4;

TEST_F(FrameTCRenderTest, EveryFormatOrientationAndHeight) {
  for (const int t : kAllFormats)
    for (const int orientation : {0, 1, 2})
      for (const int y : {0, 1, 7, 466}) {
        const int x = orientation == 0 ? 548 : orientation == 1 ? 0 : 274;
        RenderAndCheck(t, 640, 480, orientation, y, x, kFrame1h2m3s4f, "01020304");
      }
}

TEST_F(FrameTCRenderTest, Rgb24ByteOffsetsOfCellsAndDots) {
  const PClip src = Source({.width = 640, .height = 480, .pixel_type = kRgb24});
  for (const auto& [orientation, cells, dots] :
       {std::tuple{0, std::vector{1644, 1674, 1716, 1746, 1788, 1818, 1860, 1890}, std::vector{1704, 1776, 1848}},
        std::tuple{1, std::vector{0, 30, 72, 102, 144, 174, 216, 246}, std::vector{60, 132, 204}}}) {
    for (const int y : {0, 9}) {
      SCOPED_TRACE(std::to_string(orientation) + " " + std::to_string(y));
      const PVideoFrame out = env.FetchFrame(Timecode(src, 0, orientation, y), kFrame1h2m3s4f);
      const char* text = "01020304";
      for (int k = 0; k < 8; ++k) {
        const int blank_bytes = (k == 1 || k == 3 || k == 5 ? 6 : 2) * 3;
        for (int r = 0; r < 14; ++r) {
          for (int c = 0; c < 8; ++c)
            EXPECT_EQ(ByteOf(env, out, PLANAR_Y, y + r, cells[k] + 3 * c),
                      kDigitFont[(text[k] - '0') * 112 + r * 8 + c]);
          for (int b = cells[k] + 24; b < cells[k] + 24 + blank_bytes; ++b) {
            bool dot = false;
            for (const int d : dots) dot = dot || (b >= d && b <= d + 5 && (r == 4 || r == 5 || r == 8 || r == 9));
            EXPECT_EQ(ByteOf(env, out, PLANAR_Y, y + r, b), dot ? 255 : 0) << "byte " << b << " row " << r;
          }
        }
      }
      for (const int d : dots)
        for (const int r : {4, 5, 8, 9})
          for (int b = d; b <= d + 5; ++b) EXPECT_EQ(ByteOf(env, out, PLANAR_Y, y + r, b), 255) << b;
    }
  }
}

TEST_F(FrameTCRenderTest, Yv12BoxAndChromaAtTheirDocumentedPlaces) {
  // Right, y 0: luma columns 548-639 of lines 466-479; chroma 233-239 x 274-319.
  RenderAndCheck(kYv12, 640, 480, 0, 0, 548, 0, "00000000");
  // Centre, y 10: luma 274-365 of lines 456-469; chroma 228-234 x 137-182.
  RenderAndCheck(kYv12, 640, 480, 2, 10, 274, 0, "00000000");
  // Odd y: the chroma box starts at Hc - (y - 1) / 2 - 7 (one luma row low).
  RenderAndCheck(kYv12, 640, 480, 0, 5, 548, 0, "00000000");
  // Odd x (centre of a 642-wide frame is 275): chroma covers luma columns
  // x - 1 to x + 90.
  RenderAndCheck(kI420, 642, 480, 2, 0, 275, 0, "00000000");
  // An odd width puts the right-aligned box at an odd column too.
  RenderAndCheck(kYv12, 93, 14, 0, 0, 1, 0, "00000000");
}

TEST_F(FrameTCRenderTest, NarrowAndOddWidths) {
  for (const int t : kAllFormats) {
    for (const int orientation : {0, 1, 2}) RenderAndCheck(t, 92, 14, orientation, 0, 0, 77, "00000302");
    RenderAndCheck(t, 200, 20, 2, 3, 54, 77, "00000302");
    RenderAndCheck(t, 201, 20, 2, 6, 54, 77, "00000302");   // 201 / 2 - 46 is also 54
    RenderAndCheck(t, 200, 14, 0, 0, 108, 77, "00000302");  // box row 13 on the top row
  }
}

TEST_F(FrameTCRenderTest, LongAndNegativeTextsKeepTheLayout) {
  for (const int t : kAllFormats) {
    // 100 hours at 30 fps: "100000000", the first eight characters drawn.
    RenderAndCheck(t, 320, 240, 0, 0, 228, 10800000, "10000000", 30);
    // Negative counts: minus bars of our own in the cells.
    RenderAndCheck(t, 320, 240, 1, 2, 0, 0, "000000-1", 30, -1);
    RenderAndCheck(t, 320, 240, 1, 2, 0, 0, "0000-100", 30, -30);
    RenderAndCheck(t, 320, 240, 2, 2, 114, 0, "-1000000", 30, -3600 * 30);
  }
}

TEST_F(FrameTCRenderTest, ExtremeOffsetsAndIndicesDrawWithinTheBox) {
  for (const unsigned fps : {25u, 30u}) {
    const PClip src = Source({.width = 92, .height = 14, .pixel_type = kYv12, .fps_numerator = fps});
    for (const int n : {0, INT_MAX, INT_MIN})
      for (const int offset : {INT_MIN, -1, INT_MAX}) {
        const PVideoFrame out = env.FetchFrame(Timecode(src, offset, 0, 0), n);
        EXPECT_EQ(frameserver::ReadTimecode(*out.get(), kYv12, 0, 0).find('?'), std::string::npos);
      }
  }
}

TEST_F(FrameTCRenderTest, DropFrameShowsTheSameColons) {
  const PClip src =
      Source({.width = 100, .height = 20, .pixel_type = kRgb24, .fps_numerator = 30000, .fps_denominator = 1001});
  const PVideoFrame out = env.FetchFrame(Timecode(src, 0, 1, 0), 1800);
  ExpectBox(out, env.FetchFrame(src, 1800), kRgb24, 0, 0, "00010002");
}

}  // namespace
}  // namespace tallyburn::testing
