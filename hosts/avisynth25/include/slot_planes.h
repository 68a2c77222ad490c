// The frame slots through which the 2.5 interface reaches the planes of a
// format, in the order of PlaneSizeOf's plane indices: the main slot (Y, G
// or the packed plane), then U and V (U and V, or B and R).
#pragma once

#include "avisynth.h"

namespace tallyburn {

inline constexpr int kSlotPlaneIds[3] = {PLANAR_Y, PLANAR_U, PLANAR_V};

}  // namespace tallyburn
