// FrameTC(clip, offset, orientation, y): burns HH:MM:SS:FF into a 92x14 box
// aligned right, left or centre and raised y rows above the bottom edge.
#pragma once

#include <cstdint>

#include "draw/pixel_layout.h"
#include "glyphs/digit_font.h"
#include "plugin/avisynth.h"

namespace tallyburn {

class FrameTC : public GenericVideoFilter {
 public:
  static constexpr int kBoxWidth = 92;
  static constexpr int kBoxHeight = kGlyphHeight;
  enum Orientation { kRight = 0, kLeft = 1, kCenter = 2 };

  FrameTC(const PClip& source, int frame_offset, int box_orientation, int box_y, IScriptEnvironment* env);
  ~FrameTC() override = default;

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override;

 private:
  static constexpr int kTextSize = 200;

  void FormatTimecode(int n, char (&timecode_text)[kTextSize]) const noexcept;
  void DrawDigit(int cell_offset, int row, int blank_columns, uint8* dst, uint8_t digit, int pitch) const noexcept;

  uint8_t glyphs[kFontBytes];
  char timecode_format[40];
  int offset;
  int orientation;
  int y;
  double fps;
  int fps_base;
  bool drop_frame;
  // Fixed by the clip's format and size, worked out once.
  PixelLayout layout;
  int x;  // picture column of the box's first column
};

}  // namespace tallyburn
