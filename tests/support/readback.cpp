#include "tests/support/readback.h"

#include "draw/pixel_layout.h"
#include "glyphs/digit_font.h"

namespace tallyburn::frameserver {
namespace {

// The frame's own layout facts, as the filters see them.
int BytesPerPixel(int pixel_type) { return tallyburn::BytesPerPixel(DrawnLayout(pixel_type)); }
bool BottomUp(int pixel_type) { return IsBottomUp(DrawnLayout(pixel_type)); }

}  // namespace

char ReadCell(const VideoFrame& frame, int pixel_type, int x, int rows_up) {
  const int bpp = BytesPerPixel(pixel_type);
  bool ink[kGlyphBytes];
  for (int r = 0; r < kGlyphHeight; ++r) {
    const int line = BottomUp(pixel_type) ? rows_up + r : frame.GetHeight() - 1 - rows_up - r;
    const uint8* p = frame.GetReadPtr() + static_cast<ptrdiff_t>(line) * frame.GetPitch() + x * bpp;
    for (int c = 0; c < kGlyphWidth; ++c) ink[r * kGlyphWidth + c] = p[c * bpp] >= 128;
  }
  auto matches = [&](auto pixel) {
    for (int i = 0; i < kGlyphBytes; ++i)
      if (ink[i] != (pixel(i) == kInk)) return false;
    return true;
  };
  for (int d = 0; d < kGlyphCount; ++d)
    if (matches([&](int i) { return kDigitFont[d * kGlyphBytes + i]; })) return static_cast<char>('0' + d);
  if (matches([](int i) { return SignPixel(kMinus, i / kGlyphWidth, i % kGlyphWidth); })) return kMinus;
  return '?';
}

std::string ReadNumber(const VideoFrame& frame, int pixel_type, int digit_count, bool left) {
  const int width = frame.GetRowSize() / BytesPerPixel(pixel_type);
  const bool planar = DrawnLayout(pixel_type) == PixelLayout::kYv12;
  const int first = left ? 0 : width - 10 * digit_count - (planar ? 2 : 0);
  std::string s;
  for (int i = 0; i < digit_count; ++i) s += ReadCell(frame, pixel_type, first + 10 * i, 0);
  return s;
}

std::string ReadTimecode(const VideoFrame& frame, int pixel_type, int orientation, int y) {
  static constexpr int kCellColumns[8] = {0, 10, 24, 34, 48, 58, 72, 82};
  const int width = frame.GetRowSize() / BytesPerPixel(pixel_type);
  const int x = orientation == 0 ? width - 92 : orientation == 1 ? 0 : width / 2 - 46;
  std::string s;
  for (const int column : kCellColumns) s += ReadCell(frame, pixel_type, x + column, y);
  return s;
}

}  // namespace tallyburn::frameserver
