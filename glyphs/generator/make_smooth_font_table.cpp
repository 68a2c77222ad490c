// make_smooth_font_table FONT OUT: writes the smooth font's table for FONT
// (DejaVuSansMono.ttf) to OUT (glyphs/smooth_font_table.cpp).
#include <cstdio>
#include <fstream>
#include <string>

#include "glyphs/generator/smooth_font_writer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FONT OUT\n", argv[0]);
    return 2;
  }
  std::string error;
  const std::string table = tallyburn::WriteSmoothFontTable(argv[1], error);
  if (table.empty()) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary);
  out << table;
  if (!out.flush()) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
    return 1;
  }
  return 0;
}
