// An opaque box of text cells burned into a frame of any format we draw:
// glyphs at any whole scale, ink on background in the luma (or all RGB
// planes), neutral chroma under the whole box, alpha left as it was.
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

// Cells are the 8x14 glyph and 2 blank columns; the box has 2 blank columns
// before the first cell and 2 blank lines above and below the text, all
// times the scale.
inline constexpr int kTextCellWidth = 10;
inline constexpr int kBoxPadding = 2;
inline constexpr int kBoxLines = 14 + 2 * kBoxPadding;

// Picture coordinates, top-down, in pixels; x1 and y1 are one past the box.
struct BoxGeometry {
  int x0, y0, x1, y1;  // the box, widened to whole chroma samples
  int text_x, text_y;  // the first cell's top-left pixel
  int cells;
  int scale;
};

// The box for `cells` cells at `scale`, aligned as on a numeric keypad (7
// top left, 5 centre, 3 bottom right) `margin` pixels in from the edges it
// is aligned to, then widened outwards to whole chroma samples. False when
// it does not fit the frame.
bool PlaceBox(const PixelFormat& format, int frame_width, int frame_height, int cells, int scale, int align, int margin,
              BoxGeometry* box) noexcept;

// The largest scale: 64 times the font is a 900-line box, and bounds what
// a box keeps ready for its frames.
inline constexpr int kMaxScale = 64;

// The automatic scale: 1 below 720 lines, then one more for every 360 (up
// to kMaxScale).
int AutoScale(int frame_height) noexcept;

class TextBox {
 public:
  TextBox(const PixelFormat& format, const BoxGeometry& box);

  // Burns `text` (exactly `box.cells` characters; those without a glyph
  // show blank) into a writable frame of the format.
  void Paint(const FrameView& frame, const char* text) const noexcept { kernel_(*this, frame, text); }

  const BoxGeometry& box() const noexcept { return box_; }

 private:
  using Kernel = void (*)(const TextBox&, const FrameView&, const char*) noexcept;
  // Every format but packed RGB with alpha: lines put together from cell
  // lines made at construction; kCellBytes is their size when known at
  // compile time (scale 1), else 0.
  // Packed RGB with alpha copies the same way through a mask that keeps
  // each pixel's alpha (kAlpha: the alpha bits of an 8-byte word).
  template <size_t kCellBytes, uint64_t kAlpha>
  static void PaintCopied(const TextBox& self, const FrameView& frame, const char* text) noexcept;
  template <size_t kCellBytes, uint64_t kAlpha>
  void PaintPlane(const PlaneView& plane, const uint8_t* glyphs) const noexcept;
  void FillChroma(const FrameView& frame) const noexcept;

  PixelFormat format_;
  BoxGeometry box_;
  Levels levels_;
  Kernel kernel_;
  // Made once, read per frame: each glyph's lines at the scale with the
  // cell's blank columns ([glyph][line], cell_bytes_ each), and a box line
  // of background.
  std::vector<uint8_t> cells_;
  std::vector<uint8_t> background_;
  std::vector<uint8_t> neutral_;  // a chroma line of the box, planar YUV
  size_t pixel_bytes_ = 0, cell_bytes_ = 0, lead_bytes_ = 0, trail_bytes_ = 0, box_bytes_ = 0, x0_bytes_ = 0;
};

}  // namespace tallyburn

namespace tallyburn {

// A filter's box, set up once in its plan: checks `scale` (0 for automatic),
// `align` and `margin`, and places a box of `cells` characters in the clip's
// frames. With scale 0 the automatic scale steps down until the box fits.
// Nothing with `error` set to a "<filter>: ..." message when a check fails;
// nothing with `error` left empty for a format we do not draw: its frames
// pass through.
std::optional<TextBox> SetUpTextBox(const char* filter, const ClipShape& clip, int cells, int scale, int align,
                                    int margin, std::string* error);

}  // namespace tallyburn
