// What a filter's set-up knows of its source clip, whatever host it came
// from: size, rate, length, and its entry in our pixel-format table (none
// for a format we do not know, whose frames pass through).
#pragma once

#include <cstdint>
#include <optional>

#include "core/pixel_format.h"

namespace tallyburn {

struct ClipShape {
  int width = 0;
  int height = 0;
  uint32_t fps_num = 0;
  uint32_t fps_den = 0;
  int num_frames = 0;
  std::optional<PixelFormat> format;
};

}  // namespace tallyburn
