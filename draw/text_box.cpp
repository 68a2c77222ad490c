#include "draw/text_box.h"

#include <algorithm>
#include <cstring>

#include "core/message.h"
#include "draw/box_bytes.h"
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

}  // namespace

int AutoScale(int frame_height) noexcept { return frame_height < 720 ? 1 : std::min(frame_height / 360, kMaxScale); }

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

TextBox::TextBox(const PixelFormat& format, const BoxGeometry& box)
    : format_(format), box_(box), levels_(LevelsOf(format)), kernel_(nullptr) {
  const int s = box.scale;
  // The ink and background pixels, then every cell line and a line of
  // background made of them.
  const std::vector<uint8_t> ink = PixelBytes(format, levels_.ink, levels_.ink_f);
  const std::vector<uint8_t> bg = PixelBytes(format, levels_.background, levels_.background_f);
  pixel_bytes_ = ink.size();
  cell_bytes_ = pixel_bytes_ * kTextCellWidth * static_cast<size_t>(s);
  cells_.reserve(static_cast<size_t>(kTextGlyphCount) * kGlyphHeight * cell_bytes_);
  for (int g = 0; g < kTextGlyphCount; ++g)
    for (int line = 0; line < kGlyphHeight; ++line)
      for (int c = 0; c < kTextCellWidth; ++c) {
        const bool on = c < kGlyphWidth && (kTextGlyphs[g][line] >> c & 1) != 0;
        for (int k = 0; k < s; ++k) cells_.insert(cells_.end(), (on ? ink : bg).begin(), (on ? ink : bg).end());
      }
  for (int x = box.x0; x < box.x1; ++x) background_.insert(background_.end(), bg.begin(), bg.end());
  x0_bytes_ = static_cast<size_t>(box.x0) * pixel_bytes_;
  box_bytes_ = background_.size();
  lead_bytes_ = static_cast<size_t>(box.text_x - box.x0) * pixel_bytes_;
  trail_bytes_ = box_bytes_ - lead_bytes_ - static_cast<size_t>(box.cells) * cell_bytes_;

  neutral_ = NeutralChromaLine(format, box.x0, box.x1);

  // At scale 1 a cell line's size is a constant of the kernel: its copies
  // become a few stores.
  if (format.family == Family::kPackedRgb && format.channels == 4) {
    if (format.sample == SampleType::kU8)
      kernel_ = s == 1 ? &PaintCopied<40, kAlpha32> : &PaintCopied<0, kAlpha32>;
    else
      kernel_ = s == 1 ? &PaintCopied<80, kAlpha64> : &PaintCopied<0, kAlpha64>;
    return;
  }
  switch (s == 1 ? cell_bytes_ : 0) {
    case 10: kernel_ = &PaintCopied<10, 0>; break;
    case 20: kernel_ = &PaintCopied<20, 0>; break;
    case 30: kernel_ = &PaintCopied<30, 0>; break;
    case 40: kernel_ = &PaintCopied<40, 0>; break;
    case 60: kernel_ = &PaintCopied<60, 0>; break;
    default: kernel_ = &PaintCopied<0, 0>;
  }
}

template <size_t kCellBytes, uint64_t kAlpha>
void TextBox::PaintPlane(const PlaneView& plane, const uint8_t* glyphs) const noexcept {
  const BoxGeometry& b = box_;
  const size_t cell_bytes = kCellBytes > 0 ? kCellBytes : cell_bytes_;
  const auto at = [&](int y) { return plane.line(y) + x0_bytes_; };
  const auto group = [&](int y_first, int count, int line) {
    if (count <= 0) return;
    uint8_t* const first = at(y_first);
    if (line < 0) {
      CopyBytes<kAlpha>(first, background_.data(), box_bytes_);
    } else {
      uint8_t* p = first;
      CopyBytes<kAlpha>(p, background_.data(), lead_bytes_);
      p += lead_bytes_;
      for (int cell = 0; cell < b.cells; ++cell, p += cell_bytes)
        CopyBytes<kAlpha>(p, cells_.data() + (glyphs[cell] * kGlyphHeight + line) * cell_bytes, cell_bytes);
      CopyBytes<kAlpha>(p, background_.data(), trail_bytes_);
    }
    for (int y = y_first + 1; y < y_first + count; ++y) CopyBytes<kAlpha>(at(y), first, box_bytes_);
  };
  const int text_end = b.text_y + kGlyphHeight * b.scale;
  group(b.y0, b.text_y - b.y0, -1);
  for (int line = 0; line < kGlyphHeight; ++line) group(b.text_y + line * b.scale, b.scale, line);
  group(text_end, b.y1 - text_end, -1);
}

void TextBox::FillChroma(const FrameView& frame) const noexcept {
  FillNeutralChroma(frame, format_, box_.x0, box_.y0, box_.y1, neutral_);
}

template <size_t kCellBytes, uint64_t kAlpha>
void TextBox::PaintCopied(const TextBox& self, const FrameView& frame, const char* text) noexcept {
  uint8_t glyphs[TextLine::kMaxCells];
  for (int i = 0; i < self.box_.cells; ++i) glyphs[i] = TextGlyphOf(text[i]);
  self.PaintPlane<kCellBytes, kAlpha>(frame.planes[0], glyphs);
  if (self.format_.family == Family::kPlanarRgb) {  // the same picture in G, B and R
    for (const PlaneView& plane : {frame.planes[1], frame.planes[2]})
      self.PaintPlane<kCellBytes, kAlpha>(plane, glyphs);
  } else if (self.format_.family == Family::kPlanarYuv) {
    self.FillChroma(frame);
  }
}

}  // namespace tallyburn

namespace tallyburn {

std::optional<TextBox> SetUpTextBox(const char* filter, const ClipShape& clip, int cells, int scale, int align,
                                    int margin, std::string* error) {
  if (scale < 0 || scale > kMaxScale) {
    *error = Message("%s: scale must be 0 (automatic) to %d, not %d", filter, kMaxScale, scale);
    return std::nullopt;
  }
  if (align < 1 || align > 9) {
    *error = Message("%s: align must be 1 to 9 (as on a numeric keypad), not %d", filter, align);
    return std::nullopt;
  }
  if (margin < 0) {
    *error = Message("%s: margin must be 0 or more, not %d", filter, margin);
    return std::nullopt;
  }
  if (!clip.format) return std::nullopt;
  BoxGeometry geometry{};
  int s = scale > 0 ? scale : AutoScale(clip.height);
  while (!PlaceBox(*clip.format, clip.width, clip.height, cells, s, align, margin, &geometry)) {
    if (scale > 0 || s == 1) {
      *error = Message("%s: a box of %d characters at scale %d (%lldx%lld) does not fit the %dx%d frame with margin %d",
                       filter, cells, s, static_cast<long long>(kBoxPadding + cells * kTextCellWidth) * s,
                       static_cast<long long>(kBoxLines) * s, clip.width, clip.height, margin);
      return std::nullopt;
    }
    --s;
  }
  return TextBox(*clip.format, geometry);
}

}  // namespace tallyburn
