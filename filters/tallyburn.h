// Tallyburn(clip, offset, left): burns n + offset, zero-padded, as white
// digits on black into the bottom 14 lines of every frame.
#pragma once

#include <cstdint>

#include "core/clip_shape.h"
#include "core/plan.h"
#include "draw/pixel_layout.h"
#include "glyphs/digit_font.h"

namespace tallyburn {

class Tallyburn final : public Painter {
 public:
  // Cells are 8 glyph columns and 2 blank columns, 14 lines high.
  static constexpr int kCellWidth = kGlyphWidth + 2;
  // YV12 and I420 right-aligned cells end this many pixels before the edge.
  static constexpr int kPlanarRightMargin = 2;

  // Frames of a format other than the classic four pass through.
  static Plan Make(const ClipShape& clip, int offset, int left);

  void Render(int n, const FrameView& frame) const noexcept override;

  // Decimal digits of num_frames + offset (wrapped), 1 for anything below 10.
  static int CountDigits(int num_frames, int offset) noexcept;

  Tallyburn(PixelLayout layout, int width, int num_frames, int offset, int left) noexcept;

 private:
  void DrawDigit(uint8_t* bottom, ptrdiff_t up, uint8_t digit) const noexcept;

  uint8_t glyphs[kFontBytes];
  char number_format[20];
  int digit_count;
  int offset;
  int left;
  // Fixed by the clip's format and size, worked out once.
  PixelLayout layout;
  int first_cell;  // byte offset of the first cell in a line
};

}  // namespace tallyburn
