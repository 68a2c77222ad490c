#include "tool/media/raw_formats.h"

#include <strings.h>

#include "slot_planes.h"

namespace tallyburn::tool {

std::string FfmpegPixFmt(const PixelFormat& f) {
  if (f.alpha && f.family != Family::kPackedRgb) return "";
  const std::string depth = f.sample == SampleType::kF32 ? "f32le" : f.bits > 8 ? std::to_string(f.bits) + "le" : "";
  switch (f.family) {
    case Family::kPackedRgb: return f.bits > 8 ? (f.alpha ? "bgra64le" : "bgr48le") : (f.alpha ? "bgra" : "bgr24");
    case Family::kYuy2: return "yuyv422";
    case Family::kGrey: return "gray" + depth;
    case Family::kPlanarRgb: return "gbrp" + depth;
    case Family::kPlanarYuv: {
      if (f.sample == SampleType::kF32) return "";
      const char* sub = f.log2_chroma_w == 2 ? "411" : f.log2_chroma_w == 0 ? "444" : f.log2_chroma_h ? "420" : "422";
      return std::string("yuv") + sub + "p" + depth;
    }
  }
  return "";
}

int RawPixelType(const std::string& name) {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  for (int i = 0; i < count; ++i) {
    const PixelFormat& f = all[i];
    if (f.alpha && f.family != Family::kPackedRgb) continue;
    const std::string ffmpeg = FfmpegPixFmt(f);
    if (strcasecmp(name.c_str(), f.name) == 0 || (!ffmpeg.empty() && strcasecmp(name.c_str(), ffmpeg.c_str()) == 0))
      return f.pixel_type;
  }
  return strcasecmp(name.c_str(), "IYUV") == 0 ? VideoInfo::CS_I420 : 0;
}

size_t RawFrameBytes(const PixelFormat& f, int width, int height) {
  size_t bytes = 0;
  for (int k = 0; k < SlotPlanes(f); ++k) {
    const PlaneSize p = PlaneSizeOf(f, width, height, k);
    bytes += static_cast<size_t>(p.row_bytes) * static_cast<size_t>(p.height);
  }
  return bytes;
}

void ReadRawPlanes(InputStream& in, const PixelFormat& f, int width, int height, int n, VideoFrame& frame) {
  const size_t want = RawFrameBytes(f, width, height);
  size_t got = 0;
  const auto read = [&](uint8_t* dst, size_t bytes) {
    const size_t r = in.Read(dst, bytes);
    got += r;
    if (r < bytes) throw TruncatedFrame(in.name(), n, got, want);
  };
  for (int k = 0; k < SlotPlanes(f); ++k) {
    const int plane = kSlotPlaneIds[k];
    const PlaneSize size = PlaneSizeOf(f, width, height, k);
    uint8_t* const base = frame.GetWritePtr(plane);
    const int pitch = frame.GetPitch(plane);
    if (pitch == size.row_bytes && !f.bottom_up()) {
      read(base, static_cast<size_t>(size.row_bytes) * static_cast<size_t>(size.height));
      continue;
    }
    for (int r = 0; r < size.height; ++r) {
      const int line = f.bottom_up() ? size.height - 1 - r : r;  // packed RGB is stored bottom-up
      read(base + static_cast<ptrdiff_t>(line) * pitch, static_cast<size_t>(size.row_bytes));
    }
  }
}

void WriteRawPlanes(OutputStream& out, const PixelFormat& f, int width, int height, const VideoFrame& frame) {
  for (int k = 0; k < SlotPlanes(f); ++k) {
    const int plane = kSlotPlaneIds[k];
    const PlaneSize size = PlaneSizeOf(f, width, height, k);
    const uint8_t* const base = frame.GetReadPtr(plane);
    const int pitch = frame.GetPitch(plane);
    if (pitch == size.row_bytes && !f.bottom_up()) {
      out.Write(base, static_cast<size_t>(size.row_bytes) * static_cast<size_t>(size.height));
      continue;
    }
    for (int r = 0; r < size.height; ++r) {
      const int line = f.bottom_up() ? size.height - 1 - r : r;
      out.Write(base + static_cast<ptrdiff_t>(line) * pitch, static_cast<size_t>(size.row_bytes));
    }
  }
}

}  // namespace tallyburn::tool
