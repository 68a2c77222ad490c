#include "glyphs/smooth_font.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "glyphs/smooth_font_table.h"
#include "glyphs/utf8.h"

namespace tallyburn {
namespace {

const SmoothFontTable& kTable = kSmoothFontTable;

// Font units to 1/64 pixel at `em` pixels per em: points sit on a 1/64
// pixel grid, as in TrueType rasterisers, so that the same outline gives
// the same pixels.
int64_t ToSubpixels(int units, int em) {
  return std::llround(static_cast<double>(units) * em * 64 / kTable.units_per_em);
}
int FloorPixels(int64_t sub) { return static_cast<int>(sub >= 0 ? sub / 64 : -((-sub + 63) / 64)); }
int CeilPixels(int64_t sub) { return -FloorPixels(-sub); }

struct Point {
  double x, y;
};

// Signed area accumulation. Each edge adds, to the pixels it crosses and to
// every pixel right of it on the same row, the part of their area it sweeps
// (dy, signed by its direction); stored as differences along the row, so the
// coverage of a pixel is the sum of its row's differences up to it, and
// |sum| clamped to 1 is the nonzero fill's exact area coverage.
class Accumulator {
 public:
  Accumulator(int width, int height)
      : width_(width), height_(height), cells_(static_cast<size_t>(width + 2) * height, 0.0f) {}

  void Line(Point a, Point b) {
    if (a.y == b.y) return;
    float dir = 1;
    if (a.y > b.y) {
      std::swap(a, b);
      dir = -1;
    }
    const double dxdy = (b.x - a.x) / (b.y - a.y);
    const int first = std::max(0, static_cast<int>(std::floor(a.y)));
    const int end = std::min(height_, static_cast<int>(std::ceil(b.y)));
    for (int row = first; row < end; ++row) {
      const double y0 = std::max(a.y, static_cast<double>(row));
      const double y1 = std::min(b.y, static_cast<double>(row + 1));
      if (y1 <= y0) continue;
      Span(row, a.x + (y0 - a.y) * dxdy, a.x + (y1 - a.y) * dxdy, static_cast<float>((y1 - y0) * dir));
    }
  }

  // Coverage 0..255 into `out`, packed rows.
  void Resolve(uint8_t* out) const {
    for (int row = 0; row < height_; ++row) {
      const float* cells = &cells_[static_cast<size_t>(row) * (width_ + 2)];
      float sum = 0;
      for (int col = 0; col < width_; ++col) {
        sum += cells[col];
        const float area = std::min(1.0f, std::fabs(sum));
        *out++ = static_cast<uint8_t>(std::lround(area * 255));
      }
    }
  }

 private:
  // The part of an edge within one row, from column position x0 to x1,
  // sweeping `dy`: split where it crosses column boundaries, each piece
  // covering its pixel right of its mean x and all of the pixels after.
  void Span(int row, double x0, double x1, float dy) {
    float* cells = &cells_[static_cast<size_t>(row) * (width_ + 2)];
    const auto add = [&](double lo, double hi, float part) {
      const int col = std::clamp(static_cast<int>(std::floor((lo + hi) / 2)), 0, width_);
      const float right = static_cast<float>((lo + hi) / 2 - col);
      cells[col] += part * (1 - right);
      cells[col + 1] += part * right;
    };
    if (x0 > x1) std::swap(x0, x1);
    const double first = std::floor(x0);
    if (x1 <= first + 1) return add(x0, x1, dy);
    const double per_column = dy / (x1 - x0);
    for (double lo = x0, edge = first + 1; lo < x1; lo = edge, edge += 1) {
      const double hi = std::min(edge, x1);
      add(lo, hi, static_cast<float>((hi - lo) * per_column));
    }
  }

  int width_, height_;
  std::vector<float> cells_;
};

// Walks one glyph's steps, flattening conics into lines no further than
// kFlatness pixels from the curve.
template <typename ToPoint>
void Trace(const OutlineGlyph& g, ToPoint to_point, Accumulator& acc) {
  constexpr double kFlatness = 1.0 / 64;
  const int16_t* p = kTable.points + 2 * static_cast<size_t>(g.first_point);
  Point start{}, pen{};
  const auto close = [&] {
    if (pen.x != start.x || pen.y != start.y) acc.Line(pen, start);
  };
  for (uint32_t i = 0; i < g.step_count; ++i) {
    switch (kTable.steps[g.first_step + i]) {
      case OutlineStep::kMove:
        close();
        start = pen = to_point(p[0], p[1]);
        p += 2;
        break;
      case OutlineStep::kLine: {
        const Point next = to_point(p[0], p[1]);
        acc.Line(pen, next);
        pen = next;
        p += 2;
        break;
      }
      case OutlineStep::kConic: {
        const Point c = to_point(p[0], p[1]), end = to_point(p[2], p[3]);
        p += 4;
        // A quadratic's chord over a parameter step t lies at most
        // |p0 - 2c + p1| t^2 / 4 from the curve.
        const double bend = std::hypot(pen.x - 2 * c.x + end.x, pen.y - 2 * c.y + end.y);
        const int pieces = std::max(1, static_cast<int>(std::ceil(std::sqrt(bend / (4 * kFlatness)))));
        const Point from = pen;
        for (int k = 1; k <= pieces; ++k) {
          const double t = static_cast<double>(k) / pieces, u = 1 - t;
          const Point next = k == pieces ? end
                                         : Point{u * u * from.x + 2 * u * t * c.x + t * t * end.x,
                                                 u * u * from.y + 2 * u * t * c.y + t * t * end.y};
          acc.Line(pen, next);
          pen = next;
        }
        break;
      }
    }
  }
  close();
}

}  // namespace

SmoothFont::SmoothFont(int pixel_size) : pixel_size_(pixel_size) {
  if (pixel_size < kMinPixelSize || pixel_size > kMaxPixelSize)
    throw std::invalid_argument("the smooth font's pixel size is " + std::to_string(pixel_size) + ", not " +
                                std::to_string(kMinPixelSize) + " to " + std::to_string(kMaxPixelSize));
  // The largest whole em whose glyphs all fit the cell: a whole em, as
  // TrueType fonts ask of their rasterisers.
  const int span = kTable.ascent + kTable.descent;
  int descent_rows = 0;
  for (em_size_ = pixel_size * kTable.units_per_em / span + 1; em_size_ > 1; --em_size_) {
    descent_rows = CeilPixels(ToSubpixels(kTable.descent, em_size_));
    if (CeilPixels(ToSubpixels(kTable.ascent, em_size_)) + descent_rows <= pixel_size) break;
  }
  // Rows to spare are shared above and below.
  const int spare = pixel_size - CeilPixels(ToSubpixels(kTable.ascent, em_size_)) - descent_rows;
  ascent_ = pixel_size - descent_rows - spare / 2;
  advance_ = FloorPixels(ToSubpixels(kTable.advance, em_size_) + 32);

  placed_.resize(kTable.glyph_count);
  size_t total = 0;
  for (int i = 0; i < kTable.glyph_count; ++i) {
    const OutlineGlyph& g = kTable.glyphs[i];
    Placed& p = placed_[i];
    p = Placed{total, 0, 0, 0, 0};
    if (g.step_count == 0) continue;
    p.left = FloorPixels(ToSubpixels(g.x_min, em_size_));
    p.width = CeilPixels(ToSubpixels(g.x_max, em_size_)) - p.left;
    const int top = CeilPixels(ToSubpixels(g.y_max, em_size_));
    p.height = top - FloorPixels(ToSubpixels(g.y_min, em_size_));
    p.top = ascent_ - top;
    total += static_cast<size_t>(p.width) * p.height;
  }
  coverage_.resize(total);
  for (int i = 0; i < kTable.glyph_count; ++i) {
    const Placed& p = placed_[i];
    if (p.width == 0 || p.height == 0) continue;
    // Glyph pixels, y down from the image's top row.
    const int top = ascent_ - p.top;
    const auto to_point = [&](int x, int y) {
      return Point{ToSubpixels(x, em_size_) / 64.0 - p.left, top - ToSubpixels(y, em_size_) / 64.0};
    };
    Accumulator acc(p.width, p.height);
    Trace(kTable.glyphs[i], to_point, acc);
    acc.Resolve(&coverage_[p.offset]);
  }

  replacement_code_ = kTable.replacement_code;
  const auto* end = kTable.glyphs + kTable.glyph_count;
  const auto* replacement = std::lower_bound(kTable.glyphs, end, replacement_code_,
                                             [](const OutlineGlyph& g, char32_t c) { return g.code < c; });
  replacement_slot_ = static_cast<uint16_t>(replacement - kTable.glyphs);
  latin1_slots_.fill(replacement_slot_);
  for (int i = 0; i < kTable.glyph_count && kTable.glyphs[i].code < 256; ++i)
    latin1_slots_[kTable.glyphs[i].code] = static_cast<uint16_t>(i);
}

uint16_t SmoothFont::SlotOf(char32_t code) const noexcept {
  if (code < 256) return latin1_slots_[code];
  const auto* end = kTable.glyphs + kTable.glyph_count;
  const auto* g =
      std::lower_bound(kTable.glyphs, end, code, [](const OutlineGlyph& o, char32_t c) { return o.code < c; });
  return g != end && g->code == code ? static_cast<uint16_t>(g - kTable.glyphs) : replacement_slot_;
}

GlyphImage SmoothFont::Glyph(char32_t code) const noexcept {
  const Placed& p = placed_[SlotOf(code)];
  return GlyphImage{coverage_.data() + p.offset, p.width, p.height, p.left, p.top};
}

int SmoothFont::TextWidth(std::string_view text) const noexcept { return static_cast<int>(CountUtf8(text)) * advance_; }

void SmoothFont::DrawGlyph(char32_t code, const CoverageView& dst, int x, int y) const noexcept {
  const GlyphImage g = Glyph(code);
  const int x0 = std::max(0, x + g.left), x1 = std::min(dst.width, x + g.left + g.width);
  const int y0 = std::max(0, y + g.top), y1 = std::min(dst.height, y + g.top + g.height);
  for (int row = y0; row < y1; ++row) {
    const uint8_t* src = g.coverage + static_cast<ptrdiff_t>(row - y - g.top) * g.width + (x0 - x - g.left);
    uint8_t* out = dst.data + row * dst.stride;
    for (int col = x0; col < x1; ++col, ++src) out[col] = std::max(out[col], *src);
  }
}

int SmoothFont::DrawText(std::string_view text, const CoverageView& dst, int x, int y) const noexcept {
  for (size_t pos = 0; pos < text.size(); x += advance_) DrawGlyph(DecodeUtf8(text, pos), dst, x, y);
  return x;
}

}  // namespace tallyburn
