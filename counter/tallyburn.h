// Tallyburn(clip, offset, left): burns n + offset, zero-padded, as white
// digits on black into the bottom 14 lines of every frame.
#pragma once

#include <cstdint>

#include "draw/pixel_layout.h"
#include "glyphs/digit_font.h"
#include "plugin/avisynth.h"

namespace tallyburn {

class Tallyburn : public GenericVideoFilter {
 public:
  // Cells are 8 glyph columns and 2 blank columns, 14 lines high.
  static constexpr int kCellWidth = kGlyphWidth + 2;
  // YV12 and I420 right-aligned cells end this many pixels before the edge.
  static constexpr int kPlanarRightMargin = 2;

  Tallyburn(const PClip& source, int frame_offset, int align_left, IScriptEnvironment* env);
  ~Tallyburn() override = default;

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override;

  // Decimal digits of num_frames + offset (wrapped), 1 for anything below 10.
  static int CountDigits(int num_frames, int offset) noexcept;

 private:
  void DrawDigit(uint8* dst, int cell_offset, uint8_t digit, int pitch) const noexcept;

  uint8_t glyphs[kFontBytes];
  char number_format[20];
  int digit_count;
  int offset;
  int left;
  // Fixed by the clip's format and size, worked out once.
  PixelLayout layout;
  int bottom_line;  // buffer line of the picture's bottom line
  int first_cell;   // byte offset of the first cell in a line
};

}  // namespace tallyburn
