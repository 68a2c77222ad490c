// UTF-8 text read one code point at a time, safely: a byte sequence that is
// not well-formed UTF-8 gives U+FFFD, one for each of its maximal parts
// (the W3C/Unicode practice), and nothing past the end is read.
#pragma once

#include <cstddef>
#include <string_view>

namespace tallyburn {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The code point at `pos` in `text`, advancing `pos` past it; `pos` must
// be before the end.
char32_t DecodeUtf8(std::string_view text, size_t& pos) noexcept;

// How many code points DecodeUtf8 reads from `text`.
size_t CountUtf8(std::string_view text) noexcept;

}  // namespace tallyburn
