// Writes glyphs/smooth_font_table.cpp from a font file, with FreeType: a
// build-time tool, never part of the plug-in.
#pragma once

#include <string>

namespace tallyburn {

// The C++ source of the table for the font at `font_path`; empty, with the
// reason in `error`, when FreeType cannot read the font or it lacks what
// the table needs.
std::string WriteSmoothFontTable(const std::string& font_path, std::string& error);

}  // namespace tallyburn
