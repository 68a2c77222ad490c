// What a frame of each pixel type looks like, for the filters that draw
// into every format: which planes it has, sample size and depth, chroma
// subsampling, line order, and the levels of ink, background and neutral
// chroma.
#pragma once

#include <cstdint>
#include <optional>

namespace tallyburn {

enum class Family : uint8_t {
  kPackedRgb,  // B G R (A) per pixel, bottom line first
  kYuy2,       // Y U Y V per two pixels
  kPlanarYuv,  // Y in the frame's main slot, U and V in its chroma slots
  kGrey,       // Y alone
  kPlanarRgb,  // G in the main slot, B in the U slot, R in the V slot
};

enum class SampleType : uint8_t { kU8, kU16, kF32 };

struct PixelFormat {
  int pixel_type;
  const char* name;  // "YUV422P10"
  Family family;
  SampleType sample;
  int bits;              // 8 to 16, or 32 for float
  int channels;          // samples per pixel in a packed plane: 3 or 4 (RGB), 2 (YUY2), else 1
  int log2_chroma_w;     // horizontal chroma subsampling: 0 none, 1 half, 2 quarter
  int log2_chroma_h;     // vertical
  bool alpha;            // an alpha plane or channel, never drawn into
  int bytes_per_sample;  // 1, 2 or 4

  bool bottom_up() const noexcept { return family == Family::kPackedRgb; }
  bool rgb() const noexcept { return family == Family::kPackedRgb || family == Family::kPlanarRgb; }
  // Whole chroma samples: a box is widened to multiples of these.
  int chroma_step_w() const noexcept { return 1 << log2_chroma_w; }
  int chroma_step_h() const noexcept { return 1 << log2_chroma_h; }
};

// The format of a pixel type a host hands us, or nothing for one we do not
// know: such clips pass through undrawn.
std::optional<PixelFormat> DescribePixelType(int pixel_type) noexcept;

// Every format we draw, for tests and benchmarks that sweep them all.
const PixelFormat* AllPixelFormats(int* count) noexcept;

// The format with these properties (no alpha), or nothing.
std::optional<PixelFormat> FindPixelFormat(Family family, int bits, int log2_chroma_w, int log2_chroma_h) noexcept;

// Planes a frame is drawn in: 1 for packed and grey formats, 3 for planar
// YUV and RGB (alpha is not among them).
int SlotPlanes(const PixelFormat& format) noexcept;

// The picture of one of those planes: 0 the main one (Y, G or the packed
// plane), 1 and 2 the others (U and V, or B and R).
struct PlaneSize {
  int row_bytes;
  int height;
};
PlaneSize PlaneSizeOf(const PixelFormat& format, int width, int height, int plane_index) noexcept;

// Sample values as the format stores them: limited-range luma 235 and 16
// (scaled with the depth; 235/255 and 16/255 in float) and neutral chroma
// (128 scaled, 0.0 in float) in YUV; full-scale white and black in RGB.
struct Levels {
  uint32_t ink;  // integer formats
  uint32_t background;
  uint32_t neutral;
  float ink_f;  // float formats
  float background_f;
  float neutral_f;
};
Levels LevelsOf(const PixelFormat& format) noexcept;

}  // namespace tallyburn
