// printf-style messages for the set-up checks, made into a string the door
// hands its host.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

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

}  // namespace tallyburn
