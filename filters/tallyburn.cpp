#include "filters/tallyburn.h"

#include <cstdio>
#include <cstring>

#include "core/wrapping.h"
#include "draw/cell_painter.h"

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

Plan Tallyburn::Make(const ClipShape& clip, int offset, int left) {
  const int digits = CountDigits(clip.num_frames, offset);
  if (clip.width < kCellWidth * digits + kPlanarRightMargin || clip.height < kGlyphHeight)
    return Plan::Refuse("Tallyburn: video is too small");
  const PixelLayout layout = DrawnLayout(clip.format);
  if (layout == PixelLayout::kUndrawn) return Plan::PassThrough();
  return Plan::Draw(std::make_unique<Tallyburn>(layout, clip.width, clip.num_frames, offset, left));
}

Tallyburn::Tallyburn(PixelLayout drawn, int width, int num_frames, int frame_offset, int align_left) noexcept
    : digit_count(CountDigits(num_frames, frame_offset)),
      offset(frame_offset),
      left(align_left),
      layout(drawn),
      first_cell(0) {
  std::memcpy(glyphs, kDigitFont.data(), sizeof glyphs);
  std::snprintf(number_format, sizeof number_format, "%s0%id", "%", digit_count);
  // The cells stand on the picture's bottom line. Right-aligned cells end at
  // the line's last byte, two pixels short of it in YV12.
  if (left == 0) {
    // In 64 bits: a clip too wide to allocate must not overflow here.
    const int64_t bpp = BytesPerPixel(layout);
    first_cell = static_cast<int>(width * bpp - kCellWidth * bpp * digit_count);
    if (layout == PixelLayout::kYv12) first_cell -= kPlanarRightMargin;
  }
}

void Tallyburn::DrawDigit(uint8_t* bottom, ptrdiff_t up, uint8_t digit) const noexcept {
  uint8_t sign[kGlyphBytes];
  const uint8_t* const glyph = GlyphOrSign(glyphs, digit, sign);
  // Glyph bytes are the luma too.
  PaintCellAt(layout, bottom, up, glyph, kCellWidth - kGlyphWidth, LumaLevels{0, 255});
}

void Tallyburn::Render(int n, const FrameView& frame) const noexcept {
  const int cell_bytes = kCellWidth * BytesPerPixel(layout);

  char text[20];
  std::snprintf(text, sizeof text, number_format, WrapAdd(n, offset));

  if (layout == PixelLayout::kYv12) {
    // Neutral chroma under the cells: 7 chroma lines, 5 samples per cell.
    const int height_uv = frame.height / 2;
    const size_t width_uv = static_cast<size_t>(kCellWidth / 2) * digit_count;
    for (const PlaneView& plane : {frame.planes[1], frame.planes[2]}) {
      for (int line = height_uv - kGlyphHeight / 2; line < height_uv; ++line)
        std::memset(plane.line(line) + first_cell / 2, kNeutralChroma, width_uv);
    }
  }

  uint8_t* const bottom = frame.planes[0].line(frame.height - 1) + first_cell;
  for (int i = 0; i < digit_count; ++i)
    DrawDigit(bottom + i * cell_bytes, -frame.planes[0].stride, static_cast<uint8_t>(text[i] - '0'));
}

}  // namespace tallyburn
