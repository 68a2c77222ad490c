// Raw frames as ffmpeg's rawvideo reads and writes them, in every format
// without alpha: their names and sizes.
#pragma once

#include <cstddef>
#include <string>

#include "draw/pixel_format.h"
#include "plugin/avisynth.h"

namespace tallyburn::tool {

// ffmpeg's pix_fmt for a format ("yuv422p10le", "gbrp", "bgr48le"), or ""
// where rawvideo has no such layout (alpha planes).
std::string FfmpegPixFmt(const PixelFormat& format);

// The pixel type of a host name ("YUV422P10") or an ffmpeg pix_fmt, either
// case; 0 for none, and for formats with alpha.
int RawPixelType(const std::string& name);

// Bytes of one raw frame: the slot planes, whole.
size_t RawFrameBytes(const PixelFormat& format, int width, int height);

}  // namespace tallyburn::tool
