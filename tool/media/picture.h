// A decoded picture as the tool's inputs hand it on: views of its planes in
// the host format's slot order, top line first, and when it is shown. The
// readers behind them (YUV4MPEG2, FFmpeg's decoders) keep their own types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "avisynth.h"
#include "tool/media/io.h"

namespace tallyburn::tool {

struct PlaneView {
  const uint8_t* data = nullptr;
  ptrdiff_t pitch = 0;
  int row_bytes = 0;
  int height = 0;
};

// Planes 0 to 2 are the frame's slots (Y U V, G B R, or the one packed
// plane), plane 3 the alpha plane of YUVA and planar RGBA. Packed RGB is
// seen top line first too: a host frame stores it bottom-up.
struct Picture {
  PlaneView planes[4];
  int count = 0;       // slot planes present (1 or 3; luma only when asked for)
  bool alpha = false;  // planes[3] holds the alpha plane
  double time = 0;     // presentation time, in seconds
  // Not empty for a frame that did not arrive whole (a packet that did not
  // decode, a damaged frame header): what went wrong. Its planes are then
  // no picture of it, and the reader goes on with the next frame.
  std::string damage;
};

// An input that ends inside its video, after the pictures before the cut.
class InputCut : public ToolError {
 public:
  using ToolError::ToolError;
};

// Pictures in presentation order, one after the other: what verify reads.
class PictureReader {
 public:
  virtual ~PictureReader() = default;
  // The clip it reads: size, rate, pixel type; num_frames 0 when unknown.
  virtual const VideoInfo& info() const = 0;
  // The next picture, or nullptr at the end. `luma_only`: only plane 0 need
  // be there. InputCut when the input ends inside its video. A frame lost
  // to damage comes as a picture with its `damage` said.
  virtual const Picture* Next(bool luma_only) = 0;
  // The name errors and reports give the input.
  virtual const std::string& name() const = 0;
};

}  // namespace tallyburn::tool
