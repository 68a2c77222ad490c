#include "framecode/codec.h"

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

}  // namespace tallyburn::framecode
