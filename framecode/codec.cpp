#include "framecode/codec.h"

#include <algorithm>
#include <bit>

namespace tallyburn::framecode {
namespace {

constexpr int kNumberAt = 2;
constexpr int kCheckAt = kNumberAt + kNumberBits;
constexpr int kStopAt = kCheckAt + kCheckBits;

void PutBits(uint32_t value, int at, DataRow& row) noexcept {
  for (int i = 0; i < 32; ++i) row[at + i] = (value >> (31 - i) & 1) != 0;
}

uint32_t GetBits(const DataRow& row, int at) noexcept {
  uint32_t v = 0;
  for (int i = 0; i < 32; ++i) v = v << 1 | (row[at + i] ? 1u : 0u);
  return v;
}

}  // namespace

uint32_t CheckOf(uint32_t number) noexcept {
  uint32_t crc = 0xFFFFFFFFu;
  for (int shift = 24; shift >= 0; shift -= 8) {
    crc ^= number >> shift & 0xFFu;
    for (int k = 0; k < 8; ++k) crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void Encode(uint32_t number, DataRow& row) noexcept {
  row[0] = true;
  row[1] = false;
  PutBits(number, kNumberAt, row);
  PutBits(CheckOf(number), kCheckAt, row);
  row[kStopAt] = false;
  row[kStopAt + 1] = true;
}

std::optional<uint32_t> Decode(const DataRow& row) noexcept {
  if (!row[0] || row[1] || row[kStopAt] || !row[kStopAt + 1]) return std::nullopt;
  const uint32_t number = GetBits(row, kNumberAt);
  if (GetBits(row, kCheckAt) != CheckOf(number)) return std::nullopt;
  return number;
}

std::optional<uint32_t> Recover(const DataRow& row, const int* doubtful, int count) noexcept {
  static_assert(kMaxWrong == 1, "one wrong module: in the start and stop pairs, the check or the number");
  if (count < 0 || count > kMaxDoubtful || (count > 0 && doubtful == nullptr)) return std::nullopt;
  for (int i = 0; i < count; ++i)
    if (doubtful[i] < 0 || doubtful[i] >= kModules) return std::nullopt;
  for (uint32_t flips = 0; flips < 1u << count; ++flips) {
    DataRow tried;
    std::copy(row, row + kModules, tried);
    for (int i = 0; i < count; ++i)
      if ((flips >> i & 1) != 0) tried[doubtful[i]] = !tried[doubtful[i]];
    const int marks_wrong = !tried[0] + tried[1] + tried[kStopAt] + !tried[kStopAt + 1];
    if (marks_wrong > kMaxWrong) continue;
    const uint32_t number = GetBits(tried, kNumberAt), check = GetBits(tried, kCheckAt);
    const uint32_t syndrome = CheckOf(number) ^ check;
    if (syndrome == 0) return number;
    if (marks_wrong == kMaxWrong) continue;
    if (std::popcount(syndrome) == 1) return number;  // one check module wrong
    for (int bit = 0; bit < kNumberBits; ++bit)       // or one of the number's
      if (CheckOf(number ^ 1u << bit) == check) return number ^ 1u << bit;
  }
  return std::nullopt;
}

}  // namespace tallyburn::framecode
