#include "filters/tallytext.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

#include "core/message.h"
#include "filters/tallyframe.h"
#include "glyphs/smooth_font.h"
#include "glyphs/utf8.h"

namespace tallyburn {
namespace {

using Field = TallyText::Field;
using Line = TallyText::Line;
using Run = TallyText::Run;

constexpr const char* kFields =
    "the fields are {frame}, {frame:N} (N digits, zero-padded) and {tc}; {{ and }} "
    "are braces";

// The text's lines, each a list of runs; "" or the message.
std::string Parse(std::string_view text, std::vector<Line>* lines) {
  lines->assign(1, Line{});
  const auto literal = [&](char32_t c) {
    std::vector<Run>& runs = lines->back().runs;
    if (runs.empty() || runs.back().field != Field::kLiteral) runs.push_back(Run{Field::kLiteral, 0, 0, {}, {}});
    runs.back().codes.push_back(c);
    ++runs.back().cells;
  };
  for (size_t pos = 0; pos < text.size();) {
    const size_t at = pos;
    const char32_t c = DecodeUtf8(text, pos);
    if (c == '\r') continue;
    if (c == '\n' || (c == '\\' && pos < text.size() && text[pos] == 'n')) {
      if (c == '\\') ++pos;
      lines->push_back(Line{});
      continue;
    }
    if ((c == '{' || c == '}') && pos < text.size() && text[pos] == static_cast<char>(c)) {
      ++pos;
      literal(c);
      continue;
    }
    if (c == '}')
      return Message("TallyText: text has a '}' that closes no field at byte %d: %s", static_cast<int>(at), kFields);
    if (c != '{') {
      literal(c);
      continue;
    }
    const size_t close = text.find('}', pos);
    if (close == std::string_view::npos)
      return Message("TallyText: text has a '{' that opens no field at byte %d: %s", static_cast<int>(at), kFields);
    const std::string name(text.substr(pos, close - pos));
    pos = close + 1;
    Run run{Field::kTimecode, 0, 0, {}, {}};
    if (name == "frame") {
      run.field = Field::kFrame;
    } else if (name.rfind("frame:", 0) == 0) {
      const std::string digits = name.substr(6);
      run.field = Field::kFrame;
      run.digits = digits.size() >= 1 && digits.size() <= 2 &&
                           std::all_of(digits.begin(), digits.end(), [](char d) { return d >= '0' && d <= '9'; })
                       ? std::stoi(digits)
                       : -1;
      if (run.digits < 1 || run.digits > TallyText::kMaxFrameDigits)
        return Message("TallyText: text has {%s}: the digits of {frame:N} are 1 to %d", name.c_str(),
                       TallyText::kMaxFrameDigits);
    } else if (name != "tc") {
      return Message("TallyText: text has an unknown field {%s}: %s", name.c_str(), kFields);
    }
    lines->back().runs.push_back(std::move(run));
  }
  return "";
}

bool Uses(const std::vector<Line>& lines, Field field) {
  for (const Line& line : lines)
    for (const Run& run : line.runs)
      if (run.field == field) return true;
  return false;
}

int Cells(const Line& line) {
  int cells = 0;
  for (const Run& run : line.runs) cells += run.cells;
  return cells;
}

int RoundDown(int v, int step) { return v / step * step; }
int RoundUp(int v, int step) { return (v + step - 1) / step * step; }

// The space between the box's edge and the text.
int Padding(int size) { return std::max(2, size / 5); }
// The outline's reach where there is no box: 1 pixel, thicker with the size.
int HaloRadius(int size) { return std::max(1, size / 40); }

// The area a box must stay inside: `margin` in from every edge, or 5% of
// the frame (EBU R95's graphics-safe area), on whole chroma samples.
PixelRect Inside(const PixelFormat& f, int width, int height, int margin) {
  const int mx = margin < 0 ? (width * 5 + 99) / 100 : margin, my = margin < 0 ? (height * 5 + 99) / 100 : margin;
  return {RoundUp(mx, f.chroma_step_w()), RoundUp(my, f.chroma_step_h()), RoundDown(width - mx, f.chroma_step_w()),
          RoundDown(height - my, f.chroma_step_h())};
}

// A box of w x h (whole chroma samples) aligned as on a numeric keypad
// within `area`; false when it does not fit.
bool Place(const PixelFormat& f, const PixelRect& area, int w, int h, int align, PixelRect* box) {
  if (w > area.x1 - area.x0 || h > area.y1 - area.y0) return false;
  const int column = (align - 1) % 3, row = (align - 1) / 3;  // 0 left/bottom, 1 centre, 2 right/top
  const int x = column == 0   ? area.x0
                : column == 1 ? area.x0 + RoundDown((area.x1 - area.x0 - w) / 2, f.chroma_step_w())
                              : area.x1 - w;
  const int y = row == 2   ? area.y0
                : row == 1 ? area.y0 + RoundDown((area.y1 - area.y0 - h) / 2, f.chroma_step_h())
                           : area.y1 - h;
  *box = {x, y, x + w, y + h};
  return true;
}

struct Layout {
  int w, h;  // the box, on whole chroma samples
};

Layout LayoutOf(const PixelFormat& f, const std::vector<Line>& lines, int size, int advance) {
  int cells = 0;
  for (const Line& line : lines) cells = std::max(cells, Cells(line));
  const int pad = Padding(size);
  return {RoundUp(cells * advance + 2 * pad, f.chroma_step_w()),
          RoundUp(static_cast<int>(lines.size()) * size + 2 * pad, f.chroma_step_h())};
}

// Each pixel the most coverage within `r` pixels of it (a square), in an
// image `r` larger on every side.
std::vector<uint8_t> Dilate(const GlyphImage& g, int r) {
  const int w = g.width + 2 * r, h = g.height + 2 * r;
  std::vector<uint8_t> across(static_cast<size_t>(w) * g.height, 0), out(static_cast<size_t>(w) * h, 0);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t m = 0;
      for (int k = std::max(0, x - 2 * r); k <= std::min(g.width - 1, x); ++k)
        m = std::max(m, g.coverage[y * g.width + k]);
      across[static_cast<size_t>(y) * w + x] = m;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t m = 0;
      for (int k = std::max(0, y - 2 * r); k <= std::min(g.height - 1, y); ++k)
        m = std::max(m, across[static_cast<size_t>(k) * w + x]);
      out[static_cast<size_t>(y) * w + x] = m;
    }
  return out;
}

int ToOpacity(double v) { return static_cast<int>(std::lround(v * kOpaque)); }

// The signal of a level in cd/m² in PQ (SMPTE ST 2084's inverse EOTF) and
// in HLG (BT.2100 on its 1000 cd/m² reference display: the inverse of the
// 1.2 system gamma, then the OETF).
double PqSignal(double nits) {
  constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128;
  constexpr double c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
  const double y = std::pow(nits / 10000, m1);
  return std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
}
double HlgSignal(double nits) {
  constexpr double a = 0.17883277, b = 1 - 4 * a;
  const double c = 0.5 - a * std::log(4 * a);  // std::log is not constexpr everywhere
  const double scene = std::pow(std::min(nits, 1000.0) / 1000, 1 / 1.2);
  return scene <= 1.0 / 12 ? std::sqrt(3 * scene) : a * std::log(12 * scene - b) + c;
}

// BT.2408's graphics white.
constexpr double kGraphicsWhite = 203;

enum Range { kSdr, kPq, kHlg };
constexpr int kPqTransfer = 16, kHlgTransfer = 18;

}  // namespace

int TallyText::AutoSize(int frame_height) noexcept {
  return std::clamp((frame_height + 9) / 18, 16, SmoothFont::kMaxPixelSize);
}

Plan TallyText::Make(const ClipShape& clip, const char* text, int start, const char* tc_start, const char* rate,
                     int drop, const TextLook& look, const char* white) {
  std::vector<Line> lines;
  const std::string_view source = text ? text : "";
  if (source.empty()) return Plan::Refuse("TallyText: text is empty: give the text to burn, such as \"{tc}\"");
  if (std::string error = Parse(source, &lines); !error.empty()) return Plan::Refuse(std::move(error));
  if (look.size != 0 && (look.size < SmoothFont::kMinPixelSize || look.size > SmoothFont::kMaxPixelSize))
    return Plan::Refuse(Message("TallyText: size must be 0 (automatic) or %d to %d pixels, not %d",
                                SmoothFont::kMinPixelSize, SmoothFont::kMaxPixelSize, look.size));
  for (const auto& [name, value] : {std::pair{"color", look.color}, std::pair{"box_color", look.box_color}})
    if (value < 0 || value > 0xFFFFFF)
      return Plan::Refuse(
          Message("TallyText: %s must be $000000 to $FFFFFF ($RRGGBB), not $%X: give the "
                  "transparency with %s",
                  name, static_cast<unsigned>(value), std::string_view(name) == "color" ? "opacity=" : "box_opacity="));
  for (const auto& [name, value] : {std::pair{"opacity", look.opacity}, std::pair{"box_opacity", look.box_opacity}})
    if (!(value >= 0.0 && value <= 1.0))
      return Plan::Refuse(Message("TallyText: %s must be from 0.0 (transparent) to 1.0 (opaque), not %g", name, value));
  if (look.align < 1 || look.align > 9)
    return Plan::Refuse(Message("TallyText: align must be 1 to 9 (as on a numeric keypad), not %d", look.align));
  if (look.margin < -1)
    return Plan::Refuse(
        Message("TallyText: margin must be -1 (5%% of the frame in from each edge) or 0 or more, not %d", look.margin));

  // White's signal in PQ and HLG frames.
  double pq_white = PqSignal(kGraphicsWhite), hlg_white = HlgSignal(kGraphicsWhite);
  if (const std::string w = white ? white : ""; w == "peak") {
    pq_white = hlg_white = 1.0;
  } else if (!w.empty()) {
    char* end = nullptr;
    const double nits = std::strtod(w.c_str(), &end);
    if (end == w.c_str() || *end != '\0' || !(nits >= 1 && nits <= 10000))
      return Plan::Refuse(
          Message("TallyText: white must be \"peak\" or a level from 1 to 10000 cd/m², such as "
                  "\"203\" (BT.2408's graphics white, the default), not \"%s\"",
                  w.c_str()));
    pq_white = PqSignal(nits);
    hlg_white = HlgSignal(nits);
  }

  TimecodeStart timecode{{30, 0}, 0};
  if (Uses(lines, Field::kTimecode)) {
    if (std::string error = SetUpTimecode("TallyText", "tc_start", clip, tc_start, rate, drop, &timecode);
        !error.empty())
      return Plan::Refuse(std::move(error));
  }
  if (!clip.format) return Plan::PassThrough();
  const PixelFormat& f = *clip.format;

  // Fields take the width of their widest text: the number of the first
  // and the last frame, signs included; a timecode's 11 or 12 characters.
  const int64_t first = start, last = first + std::max(clip.num_frames, 1) - 1;
  for (Line& line : lines)
    for (Run& run : line.runs) {
      char scratch[24];
      if (run.field == Field::kFrame)
        run.cells = std::max(TallyFrame::FormatNumber(first, run.digits, 0, scratch),
                             TallyFrame::FormatNumber(last, run.digits, 0, scratch));
      if (run.field == Field::kTimecode) run.cells = timecode.mode.base > 99 ? 12 : 11;
    }

  // The size: as given, or the automatic one stepped down until the box
  // fits.
  const PixelRect area = Inside(f, clip.width, clip.height, look.margin);
  int size = look.size > 0 ? look.size : AutoSize(clip.height);
  PixelRect box{};
  std::optional<SmoothFont> font;
  Layout layout{};
  for (;;) {
    font.emplace(size);
    layout = LayoutOf(f, lines, size, font->Advance());
    if (Place(f, area, layout.w, layout.h, look.align, &box)) break;
    const std::string where =
        look.margin < 0 ? Message("the %dx%d frame's graphics-safe area (%dx%d, 5%% in from each edge)", clip.width,
                                  clip.height, std::max(0, area.x1 - area.x0), std::max(0, area.y1 - area.y0))
                        : Message("the %dx%d frame with margin %d", clip.width, clip.height, look.margin);
    const char* remedy = look.margin != 0 ? ", or margin=0 to use the whole frame" : "";
    if (look.size > 0)
      return Plan::Refuse(
          Message("TallyText: the text at size %d needs a %dx%d box, which does not fit %s: give a "
                  "smaller size=, a shorter text or fewer lines%s",
                  size, layout.w, layout.h, where.c_str(), remedy));
    if (size == SmoothFont::kMinPixelSize)
      return Plan::Refuse(
          Message("TallyText: the text needs a %dx%d box even at size %d, which does not fit %s: "
                  "give a shorter text or fewer lines%s",
                  layout.w, layout.h, size, where.c_str(), remedy));
    // The box grows with the size: scale down to about where it fits, then
    // step.
    const double shrink =
        std::min(static_cast<double>(area.x1 - area.x0) / layout.w, static_cast<double>(area.y1 - area.y0) / layout.h);
    size = std::clamp(static_cast<int>(size * shrink), SmoothFont::kMinPixelSize, size - 1);
  }

  // Lines stand left, centred or right in the box as the box does in the
  // frame.
  const int pad = Padding(size), advance = font->Advance();
  const int column = (look.align - 1) % 3;
  const int text_w = layout.w - 2 * pad;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int spare = text_w - Cells(lines[i]) * advance;
    lines[i].x = box.x0 + pad + (column == 0 ? 0 : column == 1 ? spare / 2 : spare);
    lines[i].y = box.y0 + pad + static_cast<int>(i) * size;
  }

  // Every glyph the text can show, rendered once: its literal characters and
  // those the fields write.
  Parts parts{Blender(f, clip.width, clip.height),
              box,
              {},
              {},
              ToOpacity(look.opacity),
              ToOpacity(look.box_opacity),
              advance,
              first,
              timecode,
              {},
              {},
              {},
              {},
              {}};
  for (const auto& [range, level, bt2020] :
       {std::tuple{kSdr, 1.0, false}, std::tuple{kPq, pq_white, true}, std::tuple{kHlg, hlg_white, true}}) {
    parts.ink[range] = parts.blender.InkOf(static_cast<uint32_t>(look.color), level, bt2020);
    parts.box_ink[range] = parts.blender.InkOf(static_cast<uint32_t>(look.box_color), level, bt2020);
  }
  const bool halo = parts.box_opacity == 0;
  const int r = HaloRadius(size);
  std::map<char32_t, uint16_t> slots;
  const auto slot_of = [&](char32_t code) {
    if (const auto it = slots.find(code); it != slots.end()) return it->second;
    const GlyphImage g = font->Glyph(code);
    const auto slot = static_cast<uint16_t>(parts.glyphs.size());
    parts.glyphs.push_back({parts.coverage.size(), g.width, g.height, g.left, g.top});
    parts.coverage.insert(parts.coverage.end(), g.coverage, g.coverage + static_cast<size_t>(g.width) * g.height);
    if (halo) {
      const bool ink = g.width > 0 && g.height > 0;
      const std::vector<uint8_t> around = ink ? Dilate(g, r) : std::vector<uint8_t>{};
      parts.halos.push_back(
          {parts.coverage.size(), ink ? g.width + 2 * r : 0, ink ? g.height + 2 * r : 0, g.left - r, g.top - r});
      parts.coverage.insert(parts.coverage.end(), around.begin(), around.end());
    }
    slots.emplace(code, slot);
    return slot;
  };
  for (const char c : std::string_view("0123456789-:; ")) parts.field_slots[static_cast<uint8_t>(c)] = slot_of(c);
  for (Line& line : lines)
    for (Run& run : line.runs) {
      for (const char32_t c : run.codes) run.glyphs.push_back(slot_of(c));
      run.codes.clear();
    }
  parts.lines = std::move(lines);
  return Plan::Draw(std::make_unique<TallyText>(std::move(parts)));
}

TallyText::TallyText(Parts parts) noexcept : p_(std::move(parts)) {}

template <typename Fn>
void TallyText::ForEachGlyph(int n, Fn&& fn) const noexcept {
  for (const Line& line : p_.lines) {
    int x = line.x;
    for (const Run& run : line.runs) {
      if (run.field == Field::kLiteral) {
        for (const uint16_t g : run.glyphs) {
          fn(g, x, line.y);
          x += p_.advance;
        }
        continue;
      }
      char text[24];
      if (run.field == Field::kFrame)
        TallyFrame::FormatNumber(p_.start + n, run.digits, run.cells, text);
      else
        tc::FormatLabel(tc::LabelAt(p_.timecode.start_index + n, p_.timecode.mode), p_.timecode.mode, text);
      for (int i = 0; i < run.cells; ++i, x += p_.advance) fn(p_.field_slots[static_cast<uint8_t>(text[i])], x, line.y);
    }
  }
}

void TallyText::Render(int n, const FrameView& frame) const noexcept {
  const int range = frame.transfer == kPqTransfer ? kPq : frame.transfer == kHlgTransfer ? kHlg : kSdr;
  const Ink& ink = p_.ink[range];
  const Ink& box_ink = p_.box_ink[range];
  p_.blender.Fill(frame, p_.box, box_ink, p_.box_opacity);
  const auto blend = [&](const std::vector<Glyph>& set, const Ink& colour) {
    ForEachGlyph(n, [&](uint16_t slot, int x, int y) {
      const Glyph& g = set[slot];
      if (g.width == 0 || g.height == 0) return;
      p_.blender.Blend(frame, Coverage{p_.coverage.data() + g.offset, g.width, g.width, g.height}, x + g.left,
                       y + g.top, p_.box, colour, p_.opacity);
    });
  };
  if (!p_.halos.empty()) blend(p_.halos, box_ink);
  blend(p_.glyphs, ink);
}

}  // namespace tallyburn
