// A frame as the painters see it, whatever host it came from: its format
// and size, and each plane as a pointer to its top line as seen and the
// byte step to the line below. A host that stores lines bottom-up (packed
// RGB in AviSynth) hands the last line in memory and a negative stride, so
// painters never branch on line order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/pixel_format.h"

namespace tallyburn {

struct PlaneView {
  uint8_t* top;      // the first sample of the picture's top line
  ptrdiff_t stride;  // bytes from a line to the one below it (negative bottom-up)

  uint8_t* line(int y) const noexcept { return top + static_cast<ptrdiff_t>(y) * stride; }
};

// Planes: 0 the drawn one (luma, G, or the packed plane); 1 and 2 the other
// two of a planar format (U and V; B and R or R and B: the painters draw the
// same picture into all three RGB planes). Alpha is never drawn.
struct FrameView {
  const PixelFormat* format;
  int width;
  int height;
  PlaneView planes[3];
  // The frame's transfer characteristics as its host labels them (ITU-T
  // H.273, VapourSynth's _Transfer): 16 PQ, 18 HLG; 0 where it says none.
  int transfer = 0;
};

}  // namespace tallyburn
