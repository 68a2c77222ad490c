#include "draw/text_box.h"

#include <algorithm>
#include <cstring>

#include "glyphs/text_glyphs.h"

namespace tallyburn {
namespace {

int RoundDown(int v, int step) noexcept { return v / step * step; }
int RoundUp(int v, int step) noexcept { return (v + step - 1) / step * step; }

// The glyph lines of a text, one per cell, for one line of the glyphs.
struct TextLine {
  static constexpr int kMaxCells = 16;
  uint8_t bits[kMaxCells];
};

// Calls run(x, count, ink) for the pixels of one picture line of the box,
// left to right: `line` is the glyph line (0 the top), or -1 for a line
// above or below the text.
template <typename Run>
inline void ForEachRun(const BoxGeometry& b, const uint8_t* glyphs, int line, Run run) noexcept {
  if (line < 0) return run(b.x0, b.x1 - b.x0, false);
  const int s = b.scale;
  run(b.x0, b.text_x - b.x0, false);
  int x = b.text_x;
  for (int cell = 0; cell < b.cells; ++cell) {
    const uint8_t bits = kTextGlyphs[glyphs[cell]][line];
    for (int c = 0; c < kGlyphWidth; ++c, x += s) run(x, s, (bits >> c & 1) != 0);
    run(x, (kTextCellWidth - kGlyphWidth) * s, false);
    x += (kTextCellWidth - kGlyphWidth) * s;
  }
  run(x, b.x1 - x, false);
}

// Paints the box's lines of one plane: `paint_line` writes one picture line
// (a glyph line, or -1) at a buffer address; lines that repeat are copied.
// `copy_bytes` is 0 where every line must be painted (packed RGB with
// alpha, which copying would overwrite).
template <typename PaintLine>
inline void ForEachLine(const BoxGeometry& b, uint8_t* plane, int pitch, bool bottom_up, int height, size_t first_byte,
                        size_t copy_bytes, PaintLine paint_line) noexcept {
  const auto at = [&](int y) {
    const int buffer_line = bottom_up ? height - 1 - y : y;
    return plane + static_cast<ptrdiff_t>(buffer_line) * pitch;
  };
  const auto group = [&](int y_first, int count, int glyph_line) {
    if (count <= 0) return;
    paint_line(at(y_first), glyph_line);
    for (int y = y_first + 1; y < y_first + count; ++y) {
      if (copy_bytes > 0)
        std::memcpy(at(y) + first_byte, at(y_first) + first_byte, copy_bytes);
      else
        paint_line(at(y), glyph_line);
    }
  };
  const int text_end = b.text_y + kGlyphHeight * b.scale;
  group(b.y0, b.text_y - b.y0, -1);
  for (int line = 0; line < kGlyphHeight; ++line) group(b.text_y + line * b.scale, b.scale, line);
  group(text_end, b.y1 - text_end, -1);
}

template <typename T>
T Sample(uint32_t integer, float floating) noexcept {
  if constexpr (std::is_same_v<T, float>)
    return floating;
  else
    return static_cast<T>(integer);
}

}  // namespace

int AutoScale(int frame_height) noexcept { return frame_height < 720 ? 1 : frame_height / 360; }

bool PlaceBox(const PixelFormat& format, int frame_width, int frame_height, int cells, int scale, int align, int margin,
              BoxGeometry* box) noexcept {
  if (cells < 1 || cells > TextLine::kMaxCells || scale < 1 || align < 1 || align > 9 || margin < 0) return false;
  // In 64 bits: a huge scale or margin must not wrap into a box that fits.
  const int64_t w = (int64_t{kBoxPadding} + int64_t{cells} * kTextCellWidth) * scale;
  const int64_t h = int64_t{kBoxLines} * scale;
  const int64_t m = margin;
  if (w + m > frame_width || h + m > frame_height) return false;
  const int column = (align - 1) % 3, row = (align - 1) / 3;  // 0 left/bottom, 1 centre, 2 right/top
  const int64_t x = column == 0 ? m : column == 1 ? (frame_width - w) / 2 : frame_width - w - m;
  const int64_t y = row == 2 ? m : row == 1 ? (frame_height - h) / 2 : frame_height - h - m;
  BoxGeometry b{};
  b.x0 = RoundDown(static_cast<int>(x), format.chroma_step_w());
  b.x1 = RoundUp(static_cast<int>(x + w), format.chroma_step_w());
  b.y0 = RoundDown(static_cast<int>(y), format.chroma_step_h());
  b.y1 = RoundUp(static_cast<int>(y + h), format.chroma_step_h());
  b.text_x = static_cast<int>(x) + kBoxPadding * scale;
  b.text_y = static_cast<int>(y) + kBoxPadding * scale;
  b.cells = cells;
  b.scale = scale;
  if (b.x1 > frame_width || b.y1 > frame_height) return false;
  *box = b;
  return true;
}

TextBox::TextBox(const PixelFormat& format, const BoxGeometry& box) noexcept
    : format_(format), box_(box), levels_(LevelsOf(format)), kernel_(nullptr) {
  switch (format.family) {
    case Family::kPackedRgb:
      kernel_ = format.sample == SampleType::kU8 ? &PaintPackedRgb<uint8_t> : &PaintPackedRgb<uint16_t>;
      break;
    case Family::kYuy2: kernel_ = &PaintYuy2; break;
    default:
      kernel_ = format.sample == SampleType::kU8    ? &PaintPlanar<uint8_t>
                : format.sample == SampleType::kU16 ? &PaintPlanar<uint16_t>
                                                    : &PaintPlanar<float>;
  }
}

template <typename T>
void TextBox::PaintPlanar(const TextBox& self, VideoFrame& frame, const char* text) noexcept {
  const BoxGeometry& b = self.box_;
  const PixelFormat& f = self.format_;
  uint8_t glyphs[TextLine::kMaxCells];
  for (int i = 0; i < b.cells; ++i) glyphs[i] = TextGlyphOf(text[i]);

  const T ink = Sample<T>(self.levels_.ink, self.levels_.ink_f);
  const T background = Sample<T>(self.levels_.background, self.levels_.background_f);
  const auto paint_glyph_plane = [&](uint8_t* plane, int pitch) {
    ForEachLine(b, plane, pitch, false, frame.GetHeight(), b.x0 * sizeof(T), (b.x1 - b.x0) * sizeof(T),
                [&](uint8_t* line, int glyph_line) {
                  T* const p = reinterpret_cast<T*>(line);
                  ForEachRun(b, glyphs, glyph_line,
                             [&](int x, int count, bool on) { std::fill_n(p + x, count, on ? ink : background); });
                });
  };
  paint_glyph_plane(frame.GetWritePtr(), frame.GetPitch());
  if (f.family == Family::kPlanarRgb) {
    // The same picture in G, B and R.
    paint_glyph_plane(frame.GetWritePtr(PLANAR_U), frame.GetPitch(PLANAR_U));
    paint_glyph_plane(frame.GetWritePtr(PLANAR_V), frame.GetPitch(PLANAR_V));
  } else if (f.family == Family::kPlanarYuv) {
    const T neutral = Sample<T>(self.levels_.neutral, self.levels_.neutral_f);
    const int cx0 = b.x0 >> f.log2_chroma_w, cx1 = b.x1 >> f.log2_chroma_w;
    const int cy0 = b.y0 >> f.log2_chroma_h, cy1 = b.y1 >> f.log2_chroma_h;
    for (const int plane : {PLANAR_U, PLANAR_V}) {
      uint8_t* const base = frame.GetWritePtr(plane);
      const int pitch = frame.GetPitch(plane);
      for (int y = cy0; y < cy1; ++y)
        std::fill_n(reinterpret_cast<T*>(base + static_cast<ptrdiff_t>(y) * pitch) + cx0, cx1 - cx0, neutral);
    }
  }
}

template <typename T>
void TextBox::PaintPackedRgb(const TextBox& self, VideoFrame& frame, const char* text) noexcept {
  const BoxGeometry& b = self.box_;
  const int channels = self.format_.channels;
  uint8_t glyphs[TextLine::kMaxCells];
  for (int i = 0; i < b.cells; ++i) glyphs[i] = TextGlyphOf(text[i]);
  const T ink = static_cast<T>(self.levels_.ink);
  // With alpha every line is painted, keeping its alpha; without, repeated
  // lines are copied whole.
  const size_t copy_bytes = channels == 4 ? 0 : static_cast<size_t>(b.x1 - b.x0) * 3 * sizeof(T);
  ForEachLine(b, frame.GetWritePtr(), frame.GetPitch(), true, frame.GetHeight(), b.x0 * 3 * sizeof(T), copy_bytes,
              [&](uint8_t* line, int glyph_line) {
                T* const p = reinterpret_cast<T*>(line);
                ForEachRun(b, glyphs, glyph_line, [&](int x, int count, bool on) {
                  const T v = on ? ink : T{0};
                  for (T* px = p + x * channels; count > 0; --count, px += channels) px[0] = px[1] = px[2] = v;
                });
              });
}

void TextBox::PaintYuy2(const TextBox& self, VideoFrame& frame, const char* text) noexcept {
  const BoxGeometry& b = self.box_;
  uint8_t glyphs[TextLine::kMaxCells];
  for (int i = 0; i < b.cells; ++i) glyphs[i] = TextGlyphOf(text[i]);
  const auto ink = static_cast<uint8_t>(self.levels_.ink), background = static_cast<uint8_t>(self.levels_.background);
  const auto neutral = static_cast<uint8_t>(self.levels_.neutral);
  ForEachLine(b, frame.GetWritePtr(), frame.GetPitch(), false, frame.GetHeight(), b.x0 * 2,
              static_cast<size_t>(b.x1 - b.x0) * 2, [&](uint8_t* line, int glyph_line) {
                ForEachRun(b, glyphs, glyph_line, [&](int x, int count, bool on) {
                  const uint8_t y = on ? ink : background;
                  for (uint8_t* px = line + 2 * x; count > 0; --count, px += 2) {
                    px[0] = y;
                    px[1] = neutral;
                  }
                });
              });
}

}  // namespace tallyburn

namespace tallyburn {

std::optional<TextBox> SetUpTextBox(const char* filter, const VideoInfo& vi, int cells, int scale, int align,
                                    int margin, IScriptEnvironment* env) {
  if (scale < 0) env->ThrowError("%s: scale must be 0 (automatic) or more, not %d", filter, scale);
  if (align < 1 || align > 9)
    env->ThrowError("%s: align must be 1 to 9 (as on a numeric keypad), not %d", filter, align);
  if (margin < 0) env->ThrowError("%s: margin must be 0 or more, not %d", filter, margin);
  const std::optional<PixelFormat> format = DescribePixelType(vi.pixel_type);
  if (!format) return std::nullopt;
  BoxGeometry geometry{};
  int s = scale > 0 ? scale : AutoScale(vi.height);
  while (!PlaceBox(*format, vi.width, vi.height, cells, s, align, margin, &geometry)) {
    if (scale > 0 || s == 1)
      env->ThrowError("%s: a box of %d characters at scale %d (%dx%d) does not fit the %dx%d frame with margin %d",
                      filter, cells, s, (kBoxPadding + cells * kTextCellWidth) * s, kBoxLines * s, vi.width, vi.height,
                      margin);
    --s;
  }
  return TextBox(*format, geometry);
}

}  // namespace tallyburn
