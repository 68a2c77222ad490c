// The frame code's strip (framecode/layout.h) burned into a frame of any
// format we draw: modules at two luma levels over neutral chroma, alpha
// left as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/clip_shape.h"
#include "core/frame_view.h"
#include "core/pixel_format.h"

namespace tallyburn {

// Picture coordinates of the strip's top-left pixel, top-down, and its
// module size in pixels.
struct StripGeometry {
  int x0, y0;
  int module;
  int width() const noexcept;
  int height() const noexcept;
};

// The strip with modules of `module` pixels (8 x scale, or one of the
// small sizes), aligned as on a numeric keypad and moved towards the
// frame's top left onto the 16-pixel grid; false when it does not fit.
bool PlaceStrip(int frame_width, int frame_height, int module, int align, StripGeometry* strip) noexcept;

class StripPainter {
 public:
  StripPainter(const PixelFormat& format, const StripGeometry& strip);

  // Burns `number` into a writable frame of the format.
  void Paint(const FrameView& frame, uint32_t number) const noexcept { kernel_(*this, frame, number); }

 private:
  using Kernel = void (*)(const StripPainter&, const FrameView&, uint32_t) noexcept;
  template <uint64_t kAlpha>
  static void PaintStrip(const StripPainter& self, const FrameView& frame, uint32_t number) noexcept;

  PixelFormat format_;
  StripGeometry strip_;
  Kernel kernel_;
  // A module's line at each level, and the chroma line under the strip.
  std::vector<uint8_t> dark_, light_, neutral_;
  size_t x0_bytes_ = 0;  // the strip's first byte in a line of the drawn plane
};

// TallyId's strip, set up once in its plan: checks `align` and `scale` (0:
// automatic, stepping down until it fits, then to the small modules).
// Nothing with `error` set to a "<filter>: ..." message when a check
// fails; nothing with `error` left empty for a format we do not draw.
std::optional<StripPainter> SetUpStrip(const char* filter, const ClipShape& clip, int scale, int align,
                                       std::string* error);

}  // namespace tallyburn
