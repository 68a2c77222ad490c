// Raw frames as ffmpeg's rawvideo reads and writes them, in every format
// without alpha: their names and sizes.
#pragma once

#include <cstddef>
#include <string>

#include "avisynth.h"
#include "core/pixel_format.h"
#include "tool/media/io.h"

namespace tallyburn::tool {

// ffmpeg's pix_fmt for a format ("yuv422p10le", "gbrp", "bgr48le"), or ""
// where rawvideo has no such layout (alpha planes).
std::string FfmpegPixFmt(const PixelFormat& format);

// The pixel type of a host name ("YUV422P10") or an ffmpeg pix_fmt, either
// case; 0 for none, and for formats with alpha.
int RawPixelType(const std::string& name);

// Bytes of one raw frame: the slot planes, whole.
size_t RawFrameBytes(const PixelFormat& format, int width, int height);

// Frame n's slot planes, in raw order (packed RGB bottom line last), read
// into `frame`; a plane whose lines follow each other in the frame comes in
// one read. TruncatedFrame when the stream ends inside the frame.
void ReadRawPlanes(InputStream& in, const PixelFormat& format, int width, int height, int n, VideoFrame& frame);

// A frame's slot planes in raw order, a plane in one write where its lines
// follow each other.
void WriteRawPlanes(OutputStream& out, const PixelFormat& format, int width, int height, const VideoFrame& frame);

}  // namespace tallyburn::tool
