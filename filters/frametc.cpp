#include "filters/frametc.h"

#include <cstdio>
#include <cstring>

#include "draw/cell_painter.h"
#include "timecode/timecode_count.h"

namespace tallyburn {
namespace {

// Box geometry, in box columns from the box's left edge. Eight cells of 8
// glyph columns, each followed by 2 blank columns, or 6 where a colon
// stands; together they paint all 92 columns.
struct Cell {
  int first_column;
  int blank_columns;
};
constexpr Cell kCells[8] = {{0, 2}, {10, 6}, {24, 2}, {34, 6}, {48, 2}, {58, 6}, {72, 2}, {82, 2}};

// Each colon is two 2x2 dots, one above the other, in a six-column gap.
constexpr int kColonColumns[3] = {20, 44, 68};
constexpr int kDotRows[4] = {4, 5, 8, 9};  // box rows, 0 = the bottom row

// Luma levels of the YUV formats.
constexpr uint8_t kLumaInk = 235;
constexpr uint8_t kLumaBackground = 16;

}  // namespace

Plan FrameTC::Make(const ClipShape& clip, int offset, int orientation, int y) {
  if (clip.width < kBoxWidth || clip.height < kBoxHeight) return Plan::Refuse("FrameTC: video is too small");
  if (y < 0 || y > clip.height - kBoxHeight) return Plan::Refuse("FrameTC: y value is invalid");
  if (orientation < kRight || orientation > kCenter)
    return Plan::Refuse("FrameTC: Orientation value must be 0 (right), 1 (left) or 2 (center)");
  TimecodeRate rate{};
  if (!ClassifyRate(FrameRate(clip.fps_num, clip.fps_den), &rate))
    return Plan::Refuse("FrameTC: fps of the video must be 23.976, 24, 25, 29.97 or 30");
  const PixelLayout layout = DrawnLayout(clip.format);
  if (layout == PixelLayout::kUndrawn) return Plan::PassThrough();
  return Plan::Draw(
      std::make_unique<FrameTC>(layout, clip.width, offset, orientation, y, rate.fps_base, rate.drop_frame));
}

FrameTC::FrameTC(PixelLayout drawn, int width, int frame_offset, int box_orientation, int box_y, int base,
                 bool drop) noexcept
    : offset(frame_offset),
      orientation(box_orientation),
      y(box_y),
      fps_base(base),
      drop_frame(drop),
      layout(drawn),
      x(0) {
  std::memcpy(glyphs, kDigitFont.data(), sizeof glyphs);
  std::snprintf(timecode_format, sizeof timecode_format, "%%02d%%02d%%02d%%02d");
  if (orientation == kRight)
    x = width - kBoxWidth;
  else if (orientation == kCenter)
    x = width / 2 - kBoxWidth / 2;
}

void FrameTC::FormatTimecode(int n, char (&timecode_text)[kTextSize]) const noexcept {
  const TimecodeFields t = CountTimecode(n, offset, {fps_base, drop_frame});
  std::snprintf(timecode_text, sizeof timecode_text, timecode_format, t.hours, t.minutes, t.seconds, t.frames);
}

void FrameTC::DrawDigit(uint8_t* bottom, ptrdiff_t up, int blank_columns, uint8_t digit) const noexcept {
  uint8_t sign[kGlyphBytes];
  const uint8_t* const glyph = GlyphOrSign(glyphs, digit, sign);
  PaintCellAt(layout, bottom, up, glyph, blank_columns, LumaLevels{kLumaBackground, kLumaInk - kLumaBackground});
}

void FrameTC::Render(int n, const FrameView& frame) const noexcept {
  const PlaneView& luma = frame.planes[0];
  const int bpp = BytesPerPixel(layout);

  char timecode_text[kTextSize];
  FormatTimecode(n, timecode_text);

  if (layout == PixelLayout::kYv12) {
    // Neutral chroma under the box: 46 samples by 7 lines from (x/2, Hc -
    // y/2 - 7). With an odd y or x it sits one luma row or column off.
    const int first_line = frame.height / 2 - y / 2 - kBoxHeight / 2;
    for (const PlaneView& plane : {frame.planes[1], frame.planes[2]}) {
      for (int line = first_line; line < first_line + kBoxHeight / 2; ++line)
        std::memset(plane.line(line) + x / 2, kNeutralChroma, kBoxWidth / 2);
    }
  }

  // The cells' bottom line is y lines above the picture's.
  uint8_t* const bottom = luma.line(frame.height - 1 - y);
  for (int k = 0; k < 8; ++k) {
    DrawDigit(bottom + (x + kCells[k].first_column) * bpp, -luma.stride, kCells[k].blank_columns,
              static_cast<uint8_t>(timecode_text[k] - '0'));
  }

  for (const int b : kDotRows) {
    uint8_t* const p = luma.line(frame.height - 1 - y - b);
    for (const int s : kColonColumns) {
      for (int c = x + s; c < x + s + 2; ++c) {
        uint8_t* const pixel = p + c * bpp;
        if (layout == PixelLayout::kRgb24 || layout == PixelLayout::kRgb32)
          pixel[0] = pixel[1] = pixel[2] = 255;  // RGB32 alpha stays 0 from the blank column
        else
          pixel[0] = kLumaInk;  // YUY2 chroma is already neutral
      }
    }
  }
}

}  // namespace tallyburn
