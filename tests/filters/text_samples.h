// Reading TallyText's frames back in any format: a channel's sample at a
// picture pixel, the rectangle a filter changed, that rectangle as byte
// regions of every plane, and the samples a colour must have, worked out
// from the levels and matrices directly.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/pixel_format.h"
#include "tests/support/plugin_host.h"

namespace tallyburn::testing {

// Picture pixels, top-down; x1 and y1 one past the end.
struct PixelBox {
  int x0, y0, x1, y1;
  bool empty() const { return x1 <= x0 || y1 <= y0; }
};

// Channel 0 is luma (G in planar RGB, B in packed RGB), 1 and 2 the others
// (U V, B R, G R): the three colour samples of a pixel in each format's own
// order. The value as stored: an integer code or a float.
double SampleAt(Environment& env, const PVideoFrame& frame, const PixelFormat& f, int channel, int x, int y);
int Channels(const PixelFormat& f);

// The smallest rectangle holding every pixel whose main plane changed.
PixelBox ChangedBox(Environment& env, const PVideoFrame& out, const PVideoFrame& src, const PixelFormat& f, int height);

// `box` as the bytes of each drawn plane (alpha excluded from none: the
// caller checks packed alpha itself).
std::vector<Region> RegionsOf(const PixelFormat& f, int height, const PixelBox& box);

// The samples of $RRGGBB in the format, BT.709 or BT.601, limited-range
// YUV, full-scale RGB.
std::array<double, 3> ExpectedSamples(const PixelFormat& f, bool bt709, uint32_t rgb);

}  // namespace tallyburn::testing
