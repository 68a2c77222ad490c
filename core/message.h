// printf-style messages for the set-up checks, made into a string the door
// hands its host; and text taken from a file made safe to print in one.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

namespace tallyburn {

[[gnu::format(printf, 1, 2)]] inline std::string Message(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

// Text as it may go into a one-line message on a terminal: a file's name, a
// header's tag, a script's string. Control bytes (C0, DEL and UTF-8's C1)
// and bytes that are not UTF-8 are written as \xHH (\n, \r and \t by
// name), so that a damaged file can neither break the line nor send the
// terminal escape sequences. Everything else, backslashes included, stays:
// the result of Printable is its own Printable, so a message made of
// escaped parts may be escaped again as a whole.
inline std::string Printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  const auto escape = [&out](unsigned char b) {
    if (b == '\n' || b == '\r' || b == '\t') {
      out += b == '\n' ? "\\n" : b == '\r' ? "\\r" : "\\t";
      return;
    }
    out += "\\x";
    out += kHex[b >> 4];
    out += kHex[b & 15];
  };
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b < 0x7f) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    // A whole UTF-8 sequence that is not a control character stays.
    const size_t length = b >= 0xc2 && b <= 0xdf ? 2 : b >= 0xe0 && b <= 0xef ? 3 : b >= 0xf0 && b <= 0xf4 ? 4 : 0;
    bool whole = length > 0 && i + length <= text.size();
    for (size_t k = 1; whole && k < length; ++k) whole = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
    if (whole) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      const bool c1 = b == 0xc2 && second < 0xa0;
      const bool overlong = (b == 0xe0 && second < 0xa0) || (b == 0xf0 && second < 0x90);
      const bool surrogate_or_past = (b == 0xed && second >= 0xa0) || (b == 0xf4 && second >= 0x90);
      whole = !c1 && !overlong && !surrogate_or_past;
    }
    if (!whole) {
      escape(b);
      ++i;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace tallyburn
