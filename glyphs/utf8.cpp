#include "glyphs/utf8.h"

#include <cstdint>

namespace tallyburn {

char32_t DecodeUtf8(std::string_view text, size_t& pos) noexcept {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos++);
  if (lead < 0x80) return lead;
  // The length a lead byte announces and the range its second byte must be
  // in, which rules out overlong forms, surrogates and code points past
  // U+10FFFF; later bytes are 0x80..0xBF.
  int length;
  uint8_t low = 0x80, high = 0xBF;
  char32_t code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return kReplacementCharacter;  // a continuation byte, C0, C1 or F5..FF
  }
  for (int i = 1; i < length; ++i) {
    // A sequence cut short, by the end or a byte out of range, is one
    // replacement; the byte that cut it starts the next character.
    if (pos >= text.size() || byte(pos) < low || byte(pos) > high) return kReplacementCharacter;
    code = code << 6 | (byte(pos++) & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return code;
}

size_t CountUtf8(std::string_view text) noexcept {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size(); ++count) DecodeUtf8(text, pos);
  return count;
}

}  // namespace tallyburn
