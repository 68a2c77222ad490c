// TallyText(clip, text, start, tc_start, rate, drop, size, color, opacity,
// box_color, box_opacity, align, margin, white): any text in the smooth font, with
// fields filled per frame ({frame}, {frame:N}, {tc}), over a box of its own
// colour and opacity (or with an outline where there is no box), into every
// format in our table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/clip_shape.h"
#include "core/plan.h"
#include "draw/blend.h"
#include "filters/timecode_setup.h"

namespace tallyburn {

// How the text looks and where it stands, as the script gives it.
struct TextLook {
  int size = 0;  // cell height in pixels; 0 automatic
  int color = 0xFFFFFF;
  double opacity = 1.0;
  int box_color = 0x000000;
  // The picture shows through a quarter of the box: white text stays at
  // least 164 codes (8-bit) above the box over the brightest picture.
  double box_opacity = 0.75;
  int align = 2;
  int margin = -1;  // -1: graphics-safe, 5% of the frame in from each edge
};

class TallyText final : public Painter {
 public:
  static constexpr int kMaxFrameDigits = 10;

  // `white`: "" BT.2408's graphics white in HDR frames (203 cd/m²: 58% of
  // PQ's signal, 75% of HLG's), "peak" the signal's top, or a level in
  // cd/m². SDR frames take white at 100%.
  static Plan Make(const ClipShape& clip, const char* text, int start, const char* tc_start, const char* rate, int drop,
                   const TextLook& look, const char* white);

  // The automatic size: a line a reviewer reads without effort at any
  // frame height, 1/18 of it (60 px at 1080 lines, 40 at 720, 27 at 480),
  // and 16 px at least, the smallest the font's digits and colons stay
  // distinct at.
  static int AutoSize(int frame_height) noexcept;

  void Render(int n, const FrameView& frame) const noexcept override;

  // What a text line holds: literal glyphs, or a field filled per frame,
  // right-aligned in `cells` characters.
  enum class Field : uint8_t { kLiteral, kFrame, kTimecode };
  struct Run {
    Field field;
    int digits;                    // kFrame: zero padding, 0 none
    int cells;                     // the characters it takes
    std::vector<uint16_t> glyphs;  // kLiteral: glyph slots
    std::vector<char32_t> codes;   // kLiteral: the characters, until glyphs are cached
  };
  struct Line {
    int x, y;  // the first cell's top-left pixel
    std::vector<Run> runs;
  };
  // A cached glyph: its coverage, placed `left` and `top` from the cell's
  // top-left corner.
  struct Glyph {
    size_t offset;
    int width, height, left, top;
  };

  struct Parts {
    Blender blender;
    PixelRect box;
    Ink ink[3], box_ink[3];    // in SDR, PQ and HLG frames
    int opacity, box_opacity;  // in 1/kOpaque
    int advance;
    int64_t start;
    TimecodeStart timecode;
    std::vector<Line> lines;
    std::vector<Glyph> glyphs, halos;  // halos: the outline of each glyph, where there is no box
    std::vector<uint8_t> coverage;
    uint16_t field_slots[128];  // the glyph of each character a field writes
  };
  explicit TallyText(Parts parts) noexcept;

 private:
  template <typename Fn>
  void ForEachGlyph(int n, Fn&& fn) const noexcept;

  Parts p_;
};

}  // namespace tallyburn
