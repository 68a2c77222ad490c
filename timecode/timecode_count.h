// Frame rate classification and frame-index-to-timecode arithmetic.
#pragma once

namespace tallyburn {

// Nominal frames per second of the timecode and whether it drops labels.
struct TimecodeRate {
  int fps_base;
  bool drop_frame;
};

// The clip's rate as a double; a zero denominator gives infinity, or NaN
// for 0/0, both refused by ClassifyRate.
double FrameRate(unsigned numerator, unsigned denominator) noexcept;

// 24, 25 and 30 exactly; 23.976 and 29.97 material (strict bounds) as drop
// frame; 0 as a rate with no time. Anything else: false.
bool ClassifyRate(double fps, TimecodeRate* rate) noexcept;

struct TimecodeFields {
  int hours;    // not reduced: runs past 24 and past 99
  int minutes;  // 0..59 (negative for a negative count)
  int seconds;  // 0..59
  int frames;   // 0..fps_base - 1
};

// Hours, minutes, seconds and frames for frame index n. All arithmetic is
// 32-bit two's complement; division truncates toward zero.
TimecodeFields CountTimecode(int n, int offset, TimecodeRate rate) noexcept;

}  // namespace tallyburn
