// The frame code's bits: a number to the data row and back.
#pragma once

#include <cstdint>
#include <optional>

#include "framecode/layout.h"

namespace tallyburn::framecode {

// CRC-32 (IEEE 802.3, reflected, as zlib's) of the number's four bytes,
// most significant first.
uint32_t CheckOf(uint32_t number) noexcept;

// The data row for a number.
void Encode(uint32_t number, DataRow& row) noexcept;

// The number a data row carries, or nothing when its start, stop or check
// does not hold.
std::optional<uint32_t> Decode(const DataRow& row) noexcept;

// The number a data row read from a picture carries, or nothing: the
// modules listed in `doubtful` (at most kMaxDoubtful, each read too near the
// threshold to trust) may be either level, and one other module may be
// wrong (kMaxWrong). At most one number can be that near a row: any two
// numbers' rows differ in kDistance modules or more.
std::optional<uint32_t> Recover(const DataRow& row, const int* doubtful, int count) noexcept;

}  // namespace tallyburn::framecode
