#include "tool/verify/step.h"

#include "core/pixel_format.h"

namespace tallyburn::tool {

framecode::LumaView LumaOf(const Picture& p, const VideoInfo& vi) {
  const PixelFormat f = *DescribePixelType(vi.pixel_type);
  const int bytes = f.bytes_per_sample;
  const int stride = f.family == Family::kPackedRgb || f.family == Family::kYuy2 ? f.channels * bytes : bytes;
  const int skip = f.family == Family::kPackedRgb ? bytes : 0;
  return {p.planes[0].data + skip, p.planes[0].pitch, vi.width, vi.height, bytes, f.bits, stride};
}

}  // namespace tallyburn::tool
