// TallyId(clip, start, align, scale): burns n + start as a machine-readable
// strip (framecode/layout.h) that `tallyburn verify` reads back after
// encoding, scaling and playback, into every format in our table.
#pragma once

#include <cstdint>

#include "core/clip_shape.h"
#include "core/plan.h"
#include "draw/strip.h"

namespace tallyburn {

class TallyId final : public Painter {
 public:
  static Plan Make(const ClipShape& clip, int start, int align, int scale);

  void Render(int n, const FrameView& frame) const noexcept override;

  TallyId(int start, StripPainter strip) noexcept;

 private:
  int start;
  StripPainter strip;
};

}  // namespace tallyburn
