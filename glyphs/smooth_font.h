// Anti-aliased monospace text at any cell height from 8 to 400 pixels, from
// the outlines of glyphs/smooth_font_table.h. The constructor rasterises
// every glyph once, as the exact area of the outline over each pixel; a
// frame's text is then only cached coverage blended into a buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tallyburn {

// 8-bit coverage (0 none, 255 full), `stride` bytes from row to row, top
// row first.
struct CoverageView {
  uint8_t* data;
  ptrdiff_t stride;
  int width;
  int height;
};

// One glyph's coverage: `width` x `height` bytes, rows top first and packed,
// placed `left` columns right of the pen and `top` rows below the cell's top.
struct GlyphImage {
  const uint8_t* coverage;
  int width;
  int height;
  int left;
  int top;
};

class SmoothFont {
 public:
  static constexpr int kMinPixelSize = 8;
  static constexpr int kMaxPixelSize = 400;

  // A font whose cells are `pixel_size` rows high, every glyph's ink inside
  // them; throws std::invalid_argument outside kMinPixelSize..kMaxPixelSize.
  explicit SmoothFont(int pixel_size);

  // The cell: Ascent() rows above the baseline, Descent() rows from it down,
  // together PixelSize(); Advance() columns from one character to the next.
  int PixelSize() const noexcept { return pixel_size_; }
  int Ascent() const noexcept { return ascent_; }
  int Descent() const noexcept { return pixel_size_ - ascent_; }
  int Advance() const noexcept { return advance_; }
  // The font's em in pixels: the size FreeType calls its pixel size.
  int EmSize() const noexcept { return em_size_; }

  // The glyph of `code`, or the replacement glyph for a character the font
  // lacks (controls included).
  GlyphImage Glyph(char32_t code) const noexcept;
  bool HasGlyph(char32_t code) const noexcept { return SlotOf(code) != replacement_slot_ || code == replacement_code_; }

  // The width of UTF-8 `text` laid out in cells.
  int TextWidth(std::string_view text) const noexcept;

  // Draws into `dst` with the cell's top-left corner at column `x`, row
  // `y`; coverage already there is kept where it is greater, and nothing
  // outside `dst` is written. DrawText returns the pen's column after the
  // text.
  void DrawGlyph(char32_t code, const CoverageView& dst, int x, int y) const noexcept;
  int DrawText(std::string_view text, const CoverageView& dst, int x, int y) const noexcept;

 private:
  struct Placed {
    size_t offset;  // into coverage_
    int width, height, left, top;
  };

  uint16_t SlotOf(char32_t code) const noexcept;

  int pixel_size_;
  int em_size_;
  int ascent_;
  int advance_;
  char32_t replacement_code_;
  uint16_t replacement_slot_;
  std::array<uint16_t, 256> latin1_slots_;  // the slot of each code below 256
  std::vector<Placed> placed_;              // one per table glyph, in table order
  std::vector<uint8_t> coverage_;
};

}  // namespace tallyburn
