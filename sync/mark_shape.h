// One mark as a function of time from its first sample, at unit peak: the
// generator samples it at the clip's rate, the detector at the rate of the
// sound it reads.
#pragma once

#include <cmath>
#include <numbers>

#include "sync/marks_layout.h"

namespace tallyburn::sync {

// 0 to 1 over the attack, 1 to 0 over the release, raised cosines.
inline double MarkEnvelope(double t) noexcept {
  if (t < 0 || t >= kMarkSeconds) return 0;
  if (t < kAttackSeconds) return 0.5 - 0.5 * std::cos(std::numbers::pi * t / kAttackSeconds);
  const double left = kMarkSeconds - t;
  if (left < kReleaseSeconds) return 0.5 - 0.5 * std::cos(std::numbers::pi * left / kReleaseSeconds);
  return 1;
}

// The phase, in radians: the sweep, then the tone at kPitches[pitch],
// continuing the sweep's phase.
inline double MarkPhase(double t, int pitch) noexcept {
  constexpr double kRate = (kSweepToHz - kSweepFromHz) / kSweepSeconds;  // Hz per second
  const double sweep_t = t < kSweepSeconds ? t : kSweepSeconds;
  double cycles = kSweepFromHz * sweep_t + 0.5 * kRate * sweep_t * sweep_t;
  if (t > kSweepSeconds) cycles += kPitches[pitch] * (t - kSweepSeconds);
  return 2 * std::numbers::pi * cycles;
}

inline double MarkSample(double t, int pitch) noexcept { return MarkEnvelope(t) * std::sin(MarkPhase(t, pitch)); }

}  // namespace tallyburn::sync
