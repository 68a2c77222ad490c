// YUV4MPEG2 streams: the header and frame reader behind Y4MSource, and the
// writer for the tool's output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "avisynth.h"
#include "core/pixel_format.h"
#include "tool/media/io.h"

namespace tallyburn::tool {

inline constexpr int kMaxDimension = 16384;

struct Y4mHeader {
  int width = 0;
  int height = 0;
  unsigned fps_numerator = 0;
  unsigned fps_denominator = 0;
  int pixel_type = 0;  // YV12 for 8-bit 4:2:0, YUY2 for 8-bit 4:2:2, else the planar format
  int image_type = 0;  // field order flags
  std::string colour = "420jpeg";
  std::string aspect = "0:0";           // pixel aspect ratio, 0:0 unknown
  std::vector<std::string> extensions;  // X tags, as they stand ("XCOLORRANGE=FULL")
  size_t header_bytes = 0;              // the header line with its end of line
};

// What an output stream keeps of its input's header beyond the clip's
// properties: the chroma siting (C), the pixel aspect ratio (A) and every
// extension (X), the colour range among them.
struct Y4mTags {
  std::string colour;
  std::string aspect;
  std::vector<std::string> extensions;
};

// The pixel type a colour space tag's value is read as (0: none): 8-bit
// 4:2:0 as YV12 and 4:2:2 as YUY2, the rest as the host's planar formats
// ("444" YV24, "420p10" YUV420P10, "mono" Y8, "mono16" Y16, ...).
int Y4mPixelType(std::string_view colour) noexcept;

// The tag value a format is written with, or "" for a format YUV4MPEG2
// cannot hold (RGB, float, alpha).
std::string Y4mColourOf(const PixelFormat& format);

// Reads and checks the stream header. Errors name the stream and the tag.
Y4mHeader ReadY4mHeader(InputStream& in);

// The clip properties the header gives (no length: a stream does not say).
VideoInfo Y4mVideoInfo(const Y4mHeader& h);

// Bytes of one frame's planes.
size_t Y4mFrameBytes(const Y4mHeader& h);

// The whole frames of a stream that is a regular file, counted by walking
// its FRAME lines from the end of the header without reading the pictures.
// `cut` tells whether bytes after the last whole frame begin another.
int CountY4mFrames(const InputStream& in, const Y4mHeader& h, bool* cut);

// Reads the "FRAME" line of frame n: false at a clean end of the stream,
// ToolError for a damaged one.
bool ReadY4mFrameHeader(InputStream& in, int n);
// After a damaged FRAME line: reads on to the next whole one and past it,
// so that the frame after the damaged one is read next; false when the
// stream ends first.
bool SkipToY4mFrame(InputStream& in);

// Reads frame n's planes into `frame` (YV12 planes or packed YUY2, the
// latter through `scratch`, sized Y4mFrameBytes).
void ReadY4mPlanes(InputStream& in, const Y4mHeader& h, int n, VideoFrame& frame, std::vector<uint8_t>& scratch);

class Y4mWriter {
 public:
  // Throws ToolError for a clip YUV4MPEG2 cannot hold (RGB). `keep`: the
  // input's tags, used where they fit the clip (a 4:2:0 siting for 4:2:0).
  Y4mWriter(OutputStream& out, const VideoInfo& vi, const Y4mTags* keep = nullptr);
  void WriteFrame(const VideoFrame& frame);

 private:
  OutputStream& out_;
  VideoInfo vi_;
  std::string colour_ = "420jpeg";
  std::string aspect_ = "1:1";
  std::vector<std::string> extensions_;
  PixelFormat format_{};
  std::vector<uint8_t> scratch_;  // one planar 4:2:2 line set for YUY2
  bool header_written_ = false;
};

}  // namespace tallyburn::tool
