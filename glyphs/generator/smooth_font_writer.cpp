#include "glyphs/generator/smooth_font_writer.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace tallyburn {
namespace {

struct Glyph {
  uint32_t code;
  uint32_t first_step, step_count, first_point;
  int x_min, y_min, x_max, y_max;
};

struct Collected {
  std::vector<Glyph> glyphs;
  std::vector<int> steps;   // 0 move, 1 line, 2 conic
  std::vector<int> points;  // x, y
  bool cubic = false;
};

void AddPoint(Collected& c, const FT_Vector* v) {
  c.points.push_back(static_cast<int>(v->x));
  c.points.push_back(static_cast<int>(v->y));
}

int MoveTo(const FT_Vector* to, void* user) {
  auto& c = *static_cast<Collected*>(user);
  c.steps.push_back(0);
  AddPoint(c, to);
  return 0;
}
int LineTo(const FT_Vector* to, void* user) {
  auto& c = *static_cast<Collected*>(user);
  c.steps.push_back(1);
  AddPoint(c, to);
  return 0;
}
int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto& c = *static_cast<Collected*>(user);
  c.steps.push_back(2);
  AddPoint(c, control);
  AddPoint(c, to);
  return 0;
}
int CubicTo(const FT_Vector*, const FT_Vector*, const FT_Vector*, void* user) {
  static_cast<Collected*>(user)->cubic = true;
  return 1;
}

struct LibraryDeleter {
  void operator()(FT_Library l) const { FT_Done_FreeType(l); }
};
struct FaceDeleter {
  void operator()(FT_Face f) const { FT_Done_Face(f); }
};

// Glyph `index` of `face` as `code`, unscaled and unhinted, in font units.
bool Collect(FT_Face face, FT_UInt index, uint32_t code, Collected& c, std::string& error) {
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0 ||
      face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
    error = "cannot load the outline of U+" + std::to_string(code);
    return false;
  }
  Glyph g{code, static_cast<uint32_t>(c.steps.size()), 0, static_cast<uint32_t>(c.points.size() / 2), 0, 0, 0, 0};
  static const FT_Outline_Funcs funcs = {MoveTo, LineTo, ConicTo, CubicTo, 0, 0};
  if (FT_Outline_Decompose(&face->glyph->outline, &funcs, &c) != 0 || c.cubic) {
    error = "the outline of U+" + std::to_string(code) + " has cubic curves or cannot be read";
    return false;
  }
  g.step_count = static_cast<uint32_t>(c.steps.size()) - g.first_step;
  if (g.step_count > 0) {
    g.x_min = g.y_min = INT32_MAX;
    g.x_max = g.y_max = INT32_MIN;
    for (size_t p = g.first_point * 2; p < c.points.size(); p += 2) {
      g.x_min = std::min(g.x_min, c.points[p]);
      g.x_max = std::max(g.x_max, c.points[p]);
      g.y_min = std::min(g.y_min, c.points[p + 1]);
      g.y_max = std::max(g.y_max, c.points[p + 1]);
    }
  }
  // The renderer lays text out on one advance.
  if (face->glyph->metrics.horiAdvance != face->max_advance_width) {
    error = "U+" + std::to_string(code) + " does not have the font's one advance";
    return false;
  }
  c.glyphs.push_back(g);
  return true;
}

std::string Hex(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(code));
  return text;
}

}  // namespace

std::string WriteSmoothFontTable(const std::string& font_path, std::string& error) {
  FT_Library raw_library = nullptr;
  if (FT_Init_FreeType(&raw_library) != 0) {
    error = "FreeType does not start";
    return {};
  }
  std::unique_ptr<FT_LibraryRec_, LibraryDeleter> library(raw_library);
  FT_Face raw_face = nullptr;
  if (FT_New_Face(library.get(), font_path.c_str(), 0, &raw_face) != 0) {
    error = "FreeType cannot open " + font_path;
    return {};
  }
  std::unique_ptr<FT_FaceRec_, FaceDeleter> face(raw_face);
  if (!FT_IS_SCALABLE(face.get()) || !FT_IS_FIXED_WIDTH(face.get())) {
    error = font_path + " is not a scalable monospace font";
    return {};
  }

  Collected c;
  std::vector<uint32_t> codes;
  for (uint32_t code = 0x20; code <= 0x7E; ++code) codes.push_back(code);
  for (uint32_t code = 0xA0; code <= 0xFF; ++code) codes.push_back(code);
  for (const uint32_t code : codes) {
    const FT_UInt index = FT_Get_Char_Index(face.get(), code);
    if (index != 0 && !Collect(face.get(), index, code, c, error)) return {};
  }
  // The font's own replacement character where it has one, else its
  // .notdef box, filed under code 0, which no text shows.
  const FT_UInt replacement = FT_Get_Char_Index(face.get(), 0xFFFD);
  const uint32_t replacement_code = replacement != 0 ? 0xFFFD : 0;
  if (!Collect(face.get(), replacement, replacement_code, c, error)) return {};
  std::sort(c.glyphs.begin(), c.glyphs.end(), [](const Glyph& a, const Glyph& b) { return a.code < b.code; });

  int ascent = 0, descent = 0;
  for (const Glyph& g : c.glyphs) {
    if (g.step_count == 0) continue;
    ascent = std::max(ascent, g.y_max);
    descent = std::max(descent, -g.y_min);
  }
  const auto* head = static_cast<const TT_Header*>(FT_Get_Sfnt_Table(face.get(), FT_SFNT_HEAD));
  char revision[32] = "unknown";
  if (head != nullptr) std::snprintf(revision, sizeof revision, "%.3f", head->Font_Revision / 65536.0);
  const std::string name = std::string(face->family_name) + " " + revision;

  std::string out;
  // The first line is short enough for clang-format to leave it as it is.
  out += "// " + name + " outlines, made by glyphs/generator: cmake --build build --target update_smooth_font_table\n";
  out += "// clang-format off\n";
  out +=
      "// The table of glyphs/smooth_font_table.h, in font units, y up. The font's licence: "
      "glyphs/DejaVu-LICENSE.txt.\n";
  out += "#include \"glyphs/smooth_font_table.h\"\n\nnamespace tallyburn {\nnamespace {\n\n";
  out += "constexpr OutlineGlyph kGlyphs[] = {\n";
  for (const Glyph& g : c.glyphs) {
    out += "  {" + Hex(g.code) + ", " + std::to_string(g.first_step) + ", " + std::to_string(g.step_count) + ", " +
           std::to_string(g.first_point) + ", " + std::to_string(g.x_min) + ", " + std::to_string(g.y_min) + ", " +
           std::to_string(g.x_max) + ", " + std::to_string(g.y_max) + "},\n";
  }
  out += "};\n\nconstexpr OutlineStep M = OutlineStep::kMove, L = OutlineStep::kLine, Q = OutlineStep::kConic;\n";
  out += "constexpr OutlineStep kSteps[] = {";
  for (size_t i = 0; i < c.steps.size(); ++i) {
    out += i % 40 == 0 ? "\n  " : " ";
    out += "MLQ"[c.steps[i]];
    out += ",";
  }
  out += "\n};\n\nconstexpr int16_t kPoints[] = {";
  for (size_t i = 0; i < c.points.size(); ++i) {
    out += i % 20 == 0 ? "\n  " : " ";
    out += std::to_string(c.points[i]) + ",";
  }
  out += "\n};\n\n}  // namespace\n\n";
  out += "const SmoothFontTable kSmoothFontTable = {\n";
  out += "  \"" + name + "\", " + std::to_string(face->units_per_EM) + ", " + std::to_string(face->max_advance_width) +
         ", " + std::to_string(ascent) + ", " + std::to_string(descent) + ", " + Hex(replacement_code) + ",\n";
  out += "  kGlyphs, " + std::to_string(c.glyphs.size()) + ", kSteps, kPoints,\n};\n\n}  // namespace tallyburn\n";
  return out;
}

}  // namespace tallyburn
