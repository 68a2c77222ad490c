// FrameTC(clip, offset, orientation, y): burns HH:MM:SS:FF into a 92x14 box
// aligned right, left or centre and raised y rows above the bottom edge.
#pragma once

#include <cstdint>

#include "core/clip_shape.h"
#include "core/plan.h"
#include "draw/pixel_layout.h"
#include "glyphs/digit_font.h"

namespace tallyburn {

class FrameTC final : public Painter {
 public:
  static constexpr int kBoxWidth = 92;
  static constexpr int kBoxHeight = kGlyphHeight;
  enum Orientation { kRight = 0, kLeft = 1, kCenter = 2 };

  // Frames of a format other than the classic four pass through.
  static Plan Make(const ClipShape& clip, int offset, int orientation, int y);

  void Render(int n, const FrameView& frame) const noexcept override;

  FrameTC(PixelLayout layout, int width, int offset, int orientation, int y, int fps_base, bool drop_frame) noexcept;

 private:
  static constexpr int kTextSize = 200;

  void FormatTimecode(int n, char (&timecode_text)[kTextSize]) const noexcept;
  void DrawDigit(uint8_t* bottom, ptrdiff_t up, int blank_columns, uint8_t digit) const noexcept;

  uint8_t glyphs[kFontBytes];
  char timecode_format[40];
  int offset;
  int orientation;
  int y;
  int fps_base;
  bool drop_frame;
  // Fixed by the clip's format and size, worked out once.
  PixelLayout layout;
  int x;  // picture column of the box's first column
};

}  // namespace tallyburn
