// What the presentation times of a delivered stream say about the player or
// converter that made it: how long each source frame stayed on screen, the
// cadence that repeats (a 24p film captured at 60: 3:2), the frames held
// longer than the cadence allows (freezes), the ones skipped or cut short
// (stutters), and the spread of the intervals between frames. It takes the
// numbers read and the times only, so it reads the same from any input.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tool/verify/report.h"

namespace tallyburn::tool {

// `numbers` as Analyse takes them and each frame's presentation time in
// seconds (as many, rising); `end`: when the last frame stops, if known.
TimingReport AnalyseTiming(const std::vector<std::optional<uint32_t>>& numbers, const std::vector<double>& times,
                           std::optional<double> end = std::nullopt);

}  // namespace tallyburn::tool
