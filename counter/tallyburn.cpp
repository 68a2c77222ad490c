#include "counter/tallyburn.h"

#include <cstdio>
#include <cstring>

#include "draw/cell_painter.h"
#include "draw/pixel_layout.h"
#include "draw/wrapping.h"

namespace tallyburn {

int Tallyburn::CountDigits(int num_frames, int offset) noexcept {
  int sum = WrapAdd(num_frames, offset);
  int digits = 1;
  while (sum > 9) {
    sum /= 10;
    ++digits;
  }
  return digits;
}

Tallyburn::Tallyburn(const PClip& source, int frame_offset, int align_left, IScriptEnvironment* env)
    : GenericVideoFilter(source),
      digit_count(CountDigits(vi.num_frames, frame_offset)),
      offset(frame_offset),
      left(align_left),
      layout(DrawnLayout(vi.pixel_type)),
      bottom_line(0),
      first_cell(0) {
  std::memcpy(glyphs, kDigitFont.data(), sizeof glyphs);
  if (vi.width < kCellWidth * digit_count + kPlanarRightMargin || vi.height < kGlyphHeight)
    env->ThrowError("Tallyburn: video is too small");
  std::snprintf(number_format, sizeof number_format, "%s0%id", "%", digit_count);
  // The cells stand on the picture's bottom line: buffer line 0 in RGB,
  // vi.height - 1 in the top-down formats. Right-aligned cells end at the
  // line's last byte, two pixels short of it in YV12.
  bottom_line = IsBottomUp(layout) ? 0 : vi.height - 1;
  if (left == 0 && layout != PixelLayout::kUndrawn) {
    // In 64 bits: a clip too wide to allocate must not overflow here.
    const int64_t bpp = BytesPerPixel(layout);
    first_cell = static_cast<int>(vi.width * bpp - kCellWidth * bpp * digit_count);
    if (layout == PixelLayout::kYv12) first_cell -= kPlanarRightMargin;
  }
}

void Tallyburn::DrawDigit(uint8* dst, int cell_offset, uint8_t digit, int pitch) const noexcept {
  uint8_t sign[kGlyphBytes];
  const uint8_t* const glyph = GlyphOrSign(glyphs, digit, sign);
  // Glyph bytes are the luma too.
  PaintCellAt(layout, dst, pitch, bottom_line, cell_offset, glyph, kCellWidth - kGlyphWidth, LumaLevels{0, 255});
}

PVideoFrame __stdcall Tallyburn::GetFrame(int n, IScriptEnvironment* env) {
  PVideoFrame frame = child->GetFrame(n, env);
  env->MakeWritable(&frame);
  uint8* const dst = frame->GetWritePtr();
  if (layout == PixelLayout::kUndrawn || dst == nullptr) return frame;

  const int pitch = frame->GetPitch();
  const int cell_bytes = kCellWidth * BytesPerPixel(layout);

  char text[20];
  std::snprintf(text, sizeof text, number_format, WrapAdd(n, offset));

  if (layout == PixelLayout::kYv12) {
    // Neutral chroma under the cells: 7 chroma lines, 5 samples per cell.
    const int pitch_uv = frame->GetPitch(PLANAR_U);
    const int height_uv = frame->GetHeight(PLANAR_U);
    const size_t width_uv = static_cast<size_t>(kCellWidth / 2) * digit_count;
    for (uint8* plane : {frame->GetWritePtr(PLANAR_U), frame->GetWritePtr(PLANAR_V)}) {
      uint8* p = plane + static_cast<ptrdiff_t>(height_uv - kGlyphHeight / 2) * pitch_uv + first_cell / 2;
      for (int line = 0; line < kGlyphHeight / 2; ++line, p += pitch_uv) std::memset(p, kNeutralChroma, width_uv);
    }
  }

  for (int i = 0; i < digit_count; ++i)
    DrawDigit(dst, first_cell + i * cell_bytes, static_cast<uint8_t>(text[i] - '0'), pitch);
  return frame;
}

}  // namespace tallyburn
