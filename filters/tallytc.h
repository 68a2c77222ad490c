// TallyTC(clip, start, rate, drop, scale, align, margin): burns the SMPTE
// timecode of every frame, at any broadcast rate, drop-frame or not, in an
// opaque box scaled with the picture, into every format in our table.
#pragma once

#include <cstdint>

#include "core/clip_shape.h"
#include "core/plan.h"
#include "draw/text_box.h"
#include "timecode/timecode_engine.h"

namespace tallyburn {

class TallyTC final : public Painter {
 public:
  // `drop`: -1 absent (drop-frame where the rate has it, or where `start`
  // asks with ';'), 0 non-drop, 1 drop-frame. `rate` null or empty: the
  // clip's own.
  static Plan Make(const ClipShape& clip, const char* start, const char* rate, int drop, int scale, int align,
                   int margin);

  void Render(int n, const FrameView& frame) const noexcept override;

  TallyTC(tc::Mode mode, int64_t start_index, TextBox box) noexcept;

 private:
  tc::Mode mode;
  int64_t start_index;  // frame 0's place in the day
  TextBox box;
};

}  // namespace tallyburn
