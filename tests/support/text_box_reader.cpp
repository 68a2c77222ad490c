#include "tests/support/text_box_reader.h"

#include <cmath>
#include <cstring>

#include "glyphs/text_glyphs.h"

namespace tallyburn::testing {
namespace {

const frameserver::PlaneGeometry* PlaneOf(Environment& env, const PVideoFrame& frame, int id) {
  for (const frameserver::PlaneGeometry& g : *env.frames().Planes(frame.get()))
    if (g.plane == id) return &g;
  return nullptr;
}

// A sample as a fraction of full scale (float samples as stored).
double ValueAt(const uint8_t* p, const PixelFormat& f) {
  switch (f.sample) {
    case SampleType::kU8: return p[0] / 255.0;
    case SampleType::kU16: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v / static_cast<double>((1 << f.bits) - 1);
    }
    case SampleType::kF32: {
      float v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
  return 0;
}

// Byte address of picture pixel (x, y) in a plane, first sample.
const uint8_t* Pixel(const PVideoFrame& frame, const frameserver::PlaneGeometry& g, const PixelFormat& f, int x, int y,
                     int subsample_w = 0, int subsample_h = 0) {
  const int line = f.bottom_up() ? g.height - 1 - (y >> subsample_h) : y >> subsample_h;
  const int step = f.bytes_per_sample * f.channels;
  return frame->vfb->data + g.offset + static_cast<size_t>(line) * g.pitch +
         static_cast<size_t>(x >> subsample_w) * step;
}

int RoundDown(int v, int step) { return v / step * step; }
int RoundUp(int v, int step) { return (v + step - 1) / step * step; }

}  // namespace

ExpectedBox WhereBoxGoes(const PixelFormat& f, int width, int height, int cells, int scale, int align, int margin) {
  const int w = (2 + 10 * cells) * scale, h = 18 * scale;
  int x = margin, y = height - h - margin;  // 1: bottom left
  if (align == 2 || align == 5 || align == 8) x = (width - w) / 2;
  if (align == 3 || align == 6 || align == 9) x = width - w - margin;
  if (align >= 4 && align <= 6) y = (height - h) / 2;
  if (align >= 7) y = margin;
  const int sw = 1 << f.log2_chroma_w, sh = 1 << f.log2_chroma_h;
  return {RoundDown(x, sw),
          RoundDown(y, sh),
          RoundUp(x + w, sw),
          RoundUp(y + h, sh),
          x + 2 * scale,
          y + 2 * scale,
          cells,
          scale};
}

std::string ReadBox(Environment& env, const PVideoFrame& frame, const PixelFormat& f, const ExpectedBox& box) {
  const frameserver::PlaneGeometry* g = PlaneOf(env, frame, PLANAR_Y);
  const double middle = f.rgb() ? 0.5 : (16 + 235) / 2.0 / 255.0;
  std::string text;
  for (int cell = 0; cell < box.cells; ++cell) {
    GlyphLines lines{};
    for (int r = 0; r < kGlyphHeight; ++r)
      for (int c = 0; c < kGlyphWidth; ++c) {
        const int x = box.text_x + (cell * 10 + c) * box.scale + box.scale / 2;
        const int y = box.text_y + r * box.scale + box.scale / 2;
        if (ValueAt(Pixel(frame, *g, f, x, y), f) > middle) lines[r] |= static_cast<uint8_t>(1u << c);
      }
    char found = '?';
    for (const char ch : std::string("0123456789:;- "))
      if (kTextGlyphs[TextGlyphOf(ch)] == lines) found = ch;
    text += found;
  }
  return text;
}

void ExpectOnlyTheBox(Environment& env, const PVideoFrame& out, const PVideoFrame& src, const PixelFormat& f,
                      const ExpectedBox& box, BoxLevels box_levels) {
  const Levels levels = LevelsOf(f);
  const bool is_float = f.sample == SampleType::kF32;
  const double full = is_float ? 1.0 : (1 << f.bits) - 1;
  double ink = is_float ? levels.ink_f : levels.ink / full;
  double background = is_float ? levels.background_f : levels.background / full;
  if (box_levels.low >= 0) {
    // A level between the ends, as the format stores it.
    const auto stored = [&](double fraction) {
      if (f.rgb()) return is_float ? fraction : std::round(fraction * full) / full;
      const double eight_bit = 16 + fraction * 219;
      return is_float ? static_cast<double>(static_cast<float>(eight_bit / 255))
                      : std::round(eight_bit * (1 << (f.bits - 8))) / full;
    };
    background = stored(box_levels.low);
    ink = stored(box_levels.high);
  }
  const double neutral = is_float ? levels.neutral_f : levels.neutral / full;
  int reported = 0;
  const auto report = [&](const std::string& what) {
    if (reported++ < 5) ADD_FAILURE() << f.name << ": " << what;
  };
  for (const frameserver::PlaneGeometry& g : *env.frames().Planes(out.get())) {
    const bool chroma = (g.plane == PLANAR_U || g.plane == PLANAR_V) && f.family == Family::kPlanarYuv;
    const int sw = chroma ? f.log2_chroma_w : 0, sh = chroma ? f.log2_chroma_h : 0;
    const int step = f.bytes_per_sample * f.channels;
    const int pixels = g.row_size / step;
    for (int line = 0; line < g.height; ++line) {
      const int y = f.bottom_up() ? (g.height - 1 - line) << sh : line << sh;
      for (int px = 0; px < pixels; ++px) {
        const int x = px << sw;
        const size_t at = g.offset + static_cast<size_t>(line) * g.pitch + static_cast<size_t>(px) * step;
        const uint8_t* o = out->vfb->data + at;
        const uint8_t* s = src->vfb->data + at;
        const bool inside =
            g.plane != frameserver::kPlaneAlpha && x >= box.x0 && x < box.x1 && y >= box.y0 && y < box.y1;
        if (!inside) {
          if (std::memcmp(o, s, static_cast<size_t>(step)) != 0)
            report("changed outside the box at plane " + std::to_string(g.plane) + " x " + std::to_string(x) + " y " +
                   std::to_string(y));
          continue;
        }
        for (int k = 0; k < f.channels; ++k) {
          const uint8_t* sample = o + k * f.bytes_per_sample;
          const double v = ValueAt(sample, f);
          const bool alpha = f.family == Family::kPackedRgb && k == 3;
          const bool yuy2_chroma = f.family == Family::kYuy2 && k == 1;
          if (alpha) {
            if (std::memcmp(sample, s + k * f.bytes_per_sample, static_cast<size_t>(f.bytes_per_sample)) != 0)
              report("alpha changed at x " + std::to_string(x) + " y " + std::to_string(y));
          } else if (chroma || yuy2_chroma) {
            if (v != neutral) report("chroma not neutral at x " + std::to_string(x) + " y " + std::to_string(y));
          } else if (std::abs(v - ink) > 1e-9 && std::abs(v - background) > 1e-9) {
            report("neither ink nor background at plane " + std::to_string(g.plane) + " x " + std::to_string(x) +
                   " y " + std::to_string(y) + ": " + std::to_string(v));
          }
        }
      }
    }
  }
}

}  // namespace tallyburn::testing
