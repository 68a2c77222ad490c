#include "core/pixel_format.h"

#include <array>

namespace tallyburn {
namespace {

// Pixel types as hosts hand them to a 2.5 plug-in. The five classic values
// are the interface's own. A current host (AviSynth+) composes the rest from
// bit fields, and a 2.5 plug-in sees them unchanged (read off that host):
//   0x80000000 planar, 0x20000000 YUV, 0x40000000 luma only,
//   0x08000000 YUVA, 0x10000000 planar RGB (low bits 1 RGB, 2 RGBA);
//   bits 16-18 the depth: 0 8-bit, 5 10, 6 12, 7 14, 1 16, 2 32-bit float;
//   chroma subsampling in bits 0-1 (width) and 8-9 (height): 0 half,
//   3 none, 1 quarter; bit 3 is set in every planar YUV type.
constexpr int kPlanar = static_cast<int>(0x80000000u);
constexpr int kYuv = 0x20000000, kLumaOnly = 0x40000000, kYuva = 0x08000000, kRgbPlanes = 0x10000000;

struct Depth {
  int code;
  int bits;
  SampleType sample;
  const char* suffix;
};
constexpr Depth kDepths[] = {{0, 8, SampleType::kU8, "8"},    {5, 10, SampleType::kU16, "10"},
                             {6, 12, SampleType::kU16, "12"}, {7, 14, SampleType::kU16, "14"},
                             {1, 16, SampleType::kU16, "16"}, {2, 32, SampleType::kF32, "S"}};

struct Subsampling {
  int bits;
  int log2_w, log2_h;
  const char* name;
};
constexpr Subsampling kSubsamplings[] = {
    {0x008, 1, 1, "420"}, {0x308, 1, 0, "422"}, {0x30B, 0, 0, "444"}, {0x309, 2, 0, "411"}};

constexpr int BytesOf(SampleType s) { return s == SampleType::kU8 ? 1 : s == SampleType::kU16 ? 2 : 4; }

constexpr PixelFormat Make(int pixel_type, const char* name, Family family, const Depth& d, int channels, int lw,
                           int lh, bool alpha) {
  return PixelFormat{pixel_type, name, family, d.sample, d.bits, channels, lw, lh, alpha, BytesOf(d.sample)};
}

// Names are for messages and tests; the host's own names where it has one.
constexpr const char* kYuvNames[2][4][6] = {
    {{"YV12", "YUV420P10", "YUV420P12", "YUV420P14", "YUV420P16", "YUV420PS"},
     {"YV16", "YUV422P10", "YUV422P12", "YUV422P14", "YUV422P16", "YUV422PS"},
     {"YV24", "YUV444P10", "YUV444P12", "YUV444P14", "YUV444P16", "YUV444PS"},
     {"YV411", "", "", "", "", ""}},
    {{"YUVA420P8", "YUVA420P10", "YUVA420P12", "YUVA420P14", "YUVA420P16", "YUVA420PS"},
     {"YUVA422P8", "YUVA422P10", "YUVA422P12", "YUVA422P14", "YUVA422P16", "YUVA422PS"},
     {"YUVA444P8", "YUVA444P10", "YUVA444P12", "YUVA444P14", "YUVA444P16", "YUVA444PS"},
     {"", "", "", "", "", ""}}};
constexpr const char* kGreyNames[6] = {"Y8", "Y10", "Y12", "Y14", "Y16", "Y32"};
constexpr const char* kRgbNames[2][6] = {{"RGBP8", "RGBP10", "RGBP12", "RGBP14", "RGBP16", "RGBPS"},
                                         {"RGBAP8", "RGBAP10", "RGBAP12", "RGBAP14", "RGBAP16", "RGBAPS"}};

constexpr auto kFormats = [] {
  // Packed and classic, planar YUV (with YV411), YUVA, grey, planar RGB(A).
  std::array<PixelFormat, 6 + 19 + 18 + 6 + 12> t{};
  size_t i = 0;
  const Depth& d8 = kDepths[0];
  const Depth& d16 = kDepths[4];
  t[i++] = Make(0x50000001, "RGB24", Family::kPackedRgb, d8, 3, 0, 0, false);
  t[i++] = Make(0x50000002, "RGB32", Family::kPackedRgb, d8, 4, 0, 0, true);
  t[i++] = Make(0x50010001, "RGB48", Family::kPackedRgb, d16, 3, 0, 0, false);
  t[i++] = Make(0x50010002, "RGB64", Family::kPackedRgb, d16, 4, 0, 0, true);
  t[i++] = Make(0x60000004, "YUY2", Family::kYuy2, d8, 2, 1, 0, false);
  t[i++] = Make(static_cast<int>(0xA0000010u), "I420", Family::kPlanarYuv, d8, 1, 1, 1, false);
  for (int a = 0; a < 2; ++a) {
    for (int s = 0; s < 4; ++s) {
      for (int k = 0; k < 6; ++k) {
        const char* name = kYuvNames[a][s][k];
        if (name[0] == '\0') continue;
        const int type = kPlanar | (a ? kYuva : kYuv) | kDepths[k].code << 16 | kSubsamplings[s].bits;
        t[i++] = Make(type, name, Family::kPlanarYuv, kDepths[k], 1, kSubsamplings[s].log2_w, kSubsamplings[s].log2_h,
                      a == 1);
      }
    }
  }
  for (int k = 0; k < 6; ++k)
    t[i++] = Make(kPlanar | kLumaOnly | kYuv | kDepths[k].code << 16, kGreyNames[k], Family::kGrey, kDepths[k], 1, 0, 0,
                  false);
  for (int a = 0; a < 2; ++a)
    for (int k = 0; k < 6; ++k)
      t[i++] = Make(kPlanar | kRgbPlanes | kDepths[k].code << 16 | (a ? 2 : 1), kRgbNames[a][k], Family::kPlanarRgb,
                    kDepths[k], 1, 0, 0, a == 1);
  // Every slot filled: the counts above match the table's size.
  return i == t.size() ? t : throw "pixel format table miscounted";
}();

}  // namespace

std::optional<PixelFormat> DescribePixelType(int pixel_type) noexcept {
  for (const PixelFormat& f : kFormats)
    if (f.pixel_type == pixel_type) return f;
  return std::nullopt;
}

const PixelFormat* AllPixelFormats(int* count) noexcept {
  *count = static_cast<int>(kFormats.size());
  return kFormats.data();
}

std::optional<PixelFormat> FindPixelFormat(Family family, int bits, int log2_chroma_w, int log2_chroma_h) noexcept {
  for (const PixelFormat& f : kFormats)
    if (f.family == family && f.bits == bits && f.log2_chroma_w == log2_chroma_w && f.log2_chroma_h == log2_chroma_h &&
        !f.alpha && f.pixel_type != static_cast<int>(0xA0000010u))
      return f;
  return std::nullopt;
}

int SlotPlanes(const PixelFormat& f) noexcept {
  return f.family == Family::kPlanarYuv || f.family == Family::kPlanarRgb ? 3 : 1;
}

PlaneSize PlaneSizeOf(const PixelFormat& f, int width, int height, int plane_index) noexcept {
  if (plane_index == 0) return {width * f.channels * f.bytes_per_sample, height};
  return {(width >> f.log2_chroma_w) * f.bytes_per_sample, height >> f.log2_chroma_h};
}

Levels LevelsOf(const PixelFormat& f) noexcept {
  if (f.rgb()) {
    const uint32_t white = f.sample == SampleType::kF32 ? 0 : (1u << f.bits) - 1;
    return {white, 0, 0, 1.0f, 0.0f, 0.0f};
  }
  const int shift = f.sample == SampleType::kF32 ? 0 : f.bits - 8;
  return {235u << shift, 16u << shift, 128u << shift, 235.0f / 255.0f, 16.0f / 255.0f, 0.0f};
}

}  // namespace tallyburn
