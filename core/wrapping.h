// Frame arithmetic is 32-bit two's complement: sums and products wrap. Done
// in unsigned arithmetic so the wrap is defined; the conversion back to int
// is modular.
#pragma once

#include <cstdint>

namespace tallyburn {

constexpr int WrapAdd(int a, int b) noexcept {
  return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

constexpr int WrapMul(int a, int b) noexcept {
  return static_cast<int>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

}  // namespace tallyburn
