#include "timecode/frametc.h"

#include <cstdio>
#include <cstring>

#include "draw/cell_painter.h"
#include "draw/pixel_layout.h"
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

FrameTC::FrameTC(const PClip& source, int frame_offset, int box_orientation, int box_y, IScriptEnvironment* env)
    : GenericVideoFilter(source),
      offset(frame_offset),
      orientation(box_orientation),
      y(box_y),
      layout(DrawnLayout(vi.pixel_type)),
      x(0) {
  std::memcpy(glyphs, kDigitFont.data(), sizeof glyphs);
  if (vi.width < kBoxWidth || vi.height < kBoxHeight) env->ThrowError("FrameTC: video is too small");
  if (y < 0 || y > vi.height - kBoxHeight) env->ThrowError("FrameTC: y value is invalid");
  if (orientation < kRight || orientation > kCenter)
    env->ThrowError("FrameTC: Orientation value must be 0 (right), 1 (left) or 2 (center)");
  std::snprintf(timecode_format, sizeof timecode_format, "%%02d%%02d%%02d%%02d");
  fps = FrameRate(vi.fps_numerator, vi.fps_denominator);
  TimecodeRate rate{};
  if (!ClassifyRate(fps, &rate)) env->ThrowError("FrameTC: fps of the video must be 23.976, 24, 25, 29.97 or 30");
  fps_base = rate.fps_base;
  drop_frame = rate.drop_frame;
  if (orientation == kRight)
    x = vi.width - kBoxWidth;
  else if (orientation == kCenter)
    x = vi.width / 2 - kBoxWidth / 2;
}

void FrameTC::FormatTimecode(int n, char (&timecode_text)[kTextSize]) const noexcept {
  const TimecodeFields t = CountTimecode(n, offset, {fps_base, drop_frame});
  std::snprintf(timecode_text, sizeof timecode_text, timecode_format, t.hours, t.minutes, t.seconds, t.frames);
}

void FrameTC::DrawDigit(int cell_offset, int row, int blank_columns, uint8* dst, uint8_t digit,
                        int pitch) const noexcept {
  uint8_t sign[kGlyphBytes];
  const uint8_t* const glyph = GlyphOrSign(glyphs, digit, sign);
  // RGB: `row` is the buffer line of the cell's bottom line. Top-down
  // formats: `row` is -y and the cell's top line is vi.height - 14 + row, so
  // its bottom line is vi.height - 1 + row.
  const int bottom_line = IsBottomUp(layout) ? row : vi.height - 1 + row;
  PaintCellAt(layout, dst, pitch, bottom_line, cell_offset, glyph, blank_columns,
              LumaLevels{kLumaBackground, kLumaInk - kLumaBackground});
}

PVideoFrame __stdcall FrameTC::GetFrame(int n, IScriptEnvironment* env) {
  PVideoFrame frame = child->GetFrame(n, env);
  env->MakeWritable(&frame);
  uint8* const dst = frame->GetWritePtr();
  if (layout == PixelLayout::kUndrawn || dst == nullptr) return frame;

  const int pitch = frame->GetPitch();
  const int height = frame->GetHeight();
  const int bpp = BytesPerPixel(layout);

  char timecode_text[kTextSize];
  FormatTimecode(n, timecode_text);

  if (layout == PixelLayout::kYv12) {
    // Neutral chroma under the box: 46 samples by 7 lines from (x/2, Hc -
    // y/2 - 7). With an odd y or x it sits one luma row or column off.
    const int pitch_uv = frame->GetPitch(PLANAR_U);
    const int first_line = frame->GetHeight(PLANAR_U) - y / 2 - kBoxHeight / 2;
    for (uint8* plane : {frame->GetWritePtr(PLANAR_U), frame->GetWritePtr(PLANAR_V)}) {
      uint8* p = plane + static_cast<ptrdiff_t>(first_line) * pitch_uv + x / 2;
      for (int line = 0; line < kBoxHeight / 2; ++line, p += pitch_uv) std::memset(p, kNeutralChroma, kBoxWidth / 2);
    }
  }

  const int row = IsBottomUp(layout) ? y : -y;
  for (int k = 0; k < 8; ++k) {
    DrawDigit((x + kCells[k].first_column) * bpp, row, kCells[k].blank_columns, dst,
              static_cast<uint8_t>(timecode_text[k] - '0'), pitch);
  }

  for (const int b : kDotRows) {
    const int line = IsBottomUp(layout) ? y + b : height - 1 - y - b;
    uint8* const p = dst + static_cast<ptrdiff_t>(line) * pitch;
    for (const int s : kColonColumns) {
      for (int c = x + s; c < x + s + 2; ++c) {
        uint8* const pixel = p + c * bpp;
        if (layout == PixelLayout::kRgb24 || layout == PixelLayout::kRgb32)
          pixel[0] = pixel[1] = pixel[2] = 255;  // RGB32 alpha stays 0 from the blank column
        else
          pixel[0] = kLumaInk;  // YUY2 chroma is already neutral
      }
    }
  }
  return frame;
}

}  // namespace tallyburn
