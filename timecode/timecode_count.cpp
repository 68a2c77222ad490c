#include "timecode/timecode_count.h"

#include <limits>

#include "core/wrapping.h"

namespace tallyburn {

double FrameRate(unsigned numerator, unsigned denominator) noexcept {
  if (denominator == 0)
    return numerator == 0 ? std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::infinity();
  return static_cast<double>(numerator) / static_cast<double>(denominator);
}

bool ClassifyRate(double fps, TimecodeRate* rate) noexcept {
  if (fps == 24)
    *rate = {24, false};
  else if (fps > 23.975 && fps < 23.977)
    *rate = {24, true};
  else if (fps == 25)
    *rate = {25, false};
  else if (fps == 30)
    *rate = {30, false};
  else if (fps > 29.969 && fps < 29.971)
    *rate = {30, true};
  else if (fps == 0)
    *rate = {0, false};
  else
    return false;
  return true;
}

TimecodeFields CountTimecode(int n, int offset, TimecodeRate rate) noexcept {
  int count = WrapAdd(n, offset);
  if (rate.drop_frame && rate.fps_base == 30) {
    // SMPTE drop frame: 17982 frames per ten minutes. Every minute not a
    // multiple of ten skips the labels 00 and 01 of its first second.
    const int q = count / 17982;
    int r = count - 17982 * q;  // |17982 q| <= |count|: cannot overflow
    if (r >= 2) r += 2 * ((r - 2) / 1798);
    count = WrapAdd(WrapMul(18000, q), r);
  } else if (rate.drop_frame && rate.fps_base == 24) {
    // Two labels skipped at index 1001 and every 2002 after it, tied to the
    // clip's own index n, not to n + offset.
    count = WrapAdd(count, WrapMul(2, WrapAdd(n, 1001) / 2002));
  }

  // A clip with no rate has no time: every field stays 0.
  TimecodeFields fields{0, 0, 0, 0};
  if (rate.fps_base > 0) {
    const int seconds = count / rate.fps_base;
    fields.frames = count % rate.fps_base;
    fields.seconds = seconds % 60;
    fields.minutes = seconds / 60 % 60;
    fields.hours = seconds / 3600;
  }
  return fields;
}

}  // namespace tallyburn
