// Reads burned digit cells back out of a frame, by matching each 8x14 cell
// against the font: what a viewer would read off the picture.
#pragma once

#include <string>

#include "avisynth.h"

namespace tallyburn::frameserver {

// The character drawn in the 8x14 cell whose left pixel is picture column
// `x` and whose bottom line is `rows_up` lines above the picture's bottom
// line: a digit, '-' for the minus bar, '?' for anything else. Ink is a
// bright first byte (blue in RGB, luma otherwise).
char ReadCell(const VideoFrame& frame, int pixel_type, int x, int rows_up);

// The number a frame-number overlay burned: digit_count cells of 10 pixels.
std::string ReadNumber(const VideoFrame& frame, int pixel_type, int digit_count, bool left);

// The eight characters of a timecode box, without the colons.
std::string ReadTimecode(const VideoFrame& frame, int pixel_type, int orientation, int y);

}  // namespace tallyburn::frameserver
