// Colours blended into a frame of any format we draw: an $RRGGBB colour in
// the format's own levels and matrix, laid over rectangles at one opacity
// or through 8-bit coverage (text), every channel of a pixel at once, alpha
// left as it was.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/frame_view.h"
#include "core/pixel_format.h"

namespace tallyburn {

// A colour as its samples in one format: [channel] in the order of
// Blender's channels (Y U V, G B R, or B G R in packed RGB).
struct Ink {
  uint32_t integer[3];
  float floating[3];
};

// Opacity in 1/65536 steps: 65536 replaces the picture.
inline constexpr int kOpaque = 65536;

// 8-bit coverage, rows top first, `stride` bytes apart.
struct Coverage {
  const uint8_t* data;
  ptrdiff_t stride;
  int width;
  int height;
};

// A rectangle of picture pixels, top-down; x1 and y1 one past it.
struct PixelRect {
  int x0, y0, x1, y1;
};

class Blender {
 public:
  // One channel of a pixel: its plane, its first byte in a pixel group, the
  // bytes from one sample to the next, and its subsampling.
  struct Channel {
    int plane;
    int offset;
    int step;
    int log2_w, log2_h;
  };

  // Frames of `width` x `height`: the size picks the matrix of YUV colours
  // (BT.709 above 1024x576, the HD sizes; BT.601 for SD).
  Blender(const PixelFormat& format, int width, int height) noexcept;

  // `rgb` as $RRGGBB, in limited-range YUV at the format's depth (16-235
  // luma, 16-240 chroma, scaled; over 255 in float), full-scale RGB. In an
  // HDR frame its R'G'B' are scaled to `white`, the signal level of white,
  // and YUV is BT.2020's.
  Ink InkOf(uint32_t rgb, double white = 1.0, bool bt2020 = false) const noexcept;

  // `ink` over every pixel of `rect` at `opacity`. `rect` lies on whole
  // chroma samples.
  void Fill(const FrameView& frame, const PixelRect& rect, const Ink& ink, int opacity) const noexcept;
  // `ink` through `coverage` placed with its top-left at picture pixel
  // (x, y), at `opacity` times the coverage; nothing outside `clip` (on
  // whole chroma samples) is written. A subsampled chroma sample takes the
  // mean coverage of the pixels it spans.
  void Blend(const FrameView& frame, const Coverage& coverage, int x, int y, const PixelRect& clip, const Ink& ink,
             int opacity) const noexcept;

 private:
  PixelFormat format_;
  bool bt709_;
  Channel channels_[3];
  int channel_count_;
};

}  // namespace tallyburn
