#include "tool/script/source_support.h"

#include <strings.h>

#include <cmath>

#include "core/pixel_format.h"
#include "tool/media/raw_formats.h"
#include "tool/media/y4m.h"

namespace tallyburn::tool {

[[noreturn]] void Refuse(IScriptEnvironment*, const std::string& message) { throw frameserver::HostError(message); }

int PixelTypeByName(IScriptEnvironment* env, const char* function, const char* name, bool classic_only) {
  if (classic_only) {
    struct Named {
      const char* names[2];
      int type;
    };
    static constexpr Named kTypes[] = {{{"RGB24", "bgr24"}, VideoInfo::CS_BGR24},
                                       {{"RGB32", "bgra"}, VideoInfo::CS_BGR32},
                                       {{"YUY2", "yuyv422"}, VideoInfo::CS_YUY2},
                                       {{"YV12", "yuv420p"}, VideoInfo::CS_YV12},
                                       {{"I420", "IYUV"}, VideoInfo::CS_I420}};
    for (const Named& t : kTypes)
      for (const char* n : t.names)
        if (strcasecmp(n, name) == 0) return t.type;
    Refuse(env, std::string(function) + ": unknown pixel_type \"" + name +
                    "\" (RGB24, RGB32, YUY2, YV12, I420, or bgr24, bgra, yuyv422, yuv420p)");
  }
  if (const int type = RawPixelType(name); type != 0) return type;
  Refuse(env, std::string(function) + ": unknown pixel_type \"" + name +
                  "\" (a host name such as YV12, YUV422P10, RGB48 or RGBP16, or ffmpeg's, such as yuv420p, "
                  "yuv422p10le, bgr48le or gbrp16le; no alpha)");
}

VideoInfo CheckedVideo(IScriptEnvironment* env, const char* function, int width, int height, int pixel_type) {
  if (width < 1 || width > kMaxDimension || height < 1 || height > kMaxDimension)
    Refuse(env, std::string(function) + ": size " + std::to_string(width) + "x" + std::to_string(height) +
                    " is outside 1 to 16384 per side");
  const PixelFormat f = *DescribePixelType(pixel_type);
  if (width % f.chroma_step_w() != 0)
    Refuse(env, std::string(function) + ": width " + std::to_string(width) + " must be a multiple of " +
                    std::to_string(f.chroma_step_w()) + " for " + f.name);
  if (height % f.chroma_step_h() != 0)
    Refuse(env, std::string(function) + ": height " + std::to_string(height) + " must be even for " + f.name);
  VideoInfo vi{};
  vi.width = width;
  vi.height = height;
  vi.pixel_type = pixel_type;
  return vi;
}

void SetRate(IScriptEnvironment* env, const char* function, VideoInfo& vi, const AVSValue& fps, const AVSValue& den) {
  if (den.Defined() && den.AsInt() < 1) Refuse(env, std::string(function) + ": fps_denominator must be 1 or more");
  if (!fps.Defined()) {
    vi.fps_numerator = 30000u;
    vi.fps_denominator = den.Defined() ? static_cast<unsigned>(den.AsInt()) : 1001u;
  } else {
    const double f = fps.AsFloat();
    if (!(f >= 0) || f > 1e6) Refuse(env, std::string(function) + ": fps must be between 0 and 1000000");
    const int d = den.AsInt(1);
    if (std::floor(f) == f) {
      vi.fps_numerator = static_cast<unsigned>(f);
      vi.fps_denominator = static_cast<unsigned>(d);
    } else {
      vi.fps_numerator = static_cast<unsigned>(std::lround(f * 1000.0 * d));
      vi.fps_denominator = static_cast<unsigned>(1000 * d);
    }
  }
}

}  // namespace tallyburn::tool
