// TallyFrame(clip, start, digits, scale, align, margin): burns n + start,
// zero-padded, in an opaque box scaled with the picture, into every format
// in our table.
#pragma once

#include <cstdint>

#include "core/clip_shape.h"
#include "core/plan.h"
#include "draw/text_box.h"

namespace tallyburn {

class TallyFrame final : public Painter {
 public:
  static constexpr int kMaxDigits = 10;

  static Plan Make(const ClipShape& clip, int start, int digits, int scale, int align, int margin);

  void Render(int n, const FrameView& frame) const noexcept override;

  // The text of `number`: its magnitude zero-padded to `digits`, a minus
  // before it when negative, right-aligned in `cells` characters (blank
  // before it). Numbers too long for the cells keep their last digits.
  // Returns the length the number needs.
  static int FormatNumber(int64_t number, int digits, int cells, char* out) noexcept;

  TallyFrame(int64_t start, int digits, int cells, TextBox box) noexcept;

 private:
  int64_t start;
  int digits;
  int cells;
  TextBox box;
};

}  // namespace tallyburn
