// The frame code's bits: the check is zlib's CRC-32, every number comes
// back, and no single damaged module reads as a number.
#include <gtest/gtest.h>

#include <algorithm>

#include "framecode/codec.h"

namespace tallyburn::framecode {
namespace {

TEST(FrameCodeTest, TheCheckIsCrc32OfTheBigEndianBytes) {
  EXPECT_EQ(CheckOf(0), 0x2144DF1Cu);            // zlib.crc32(b"\0\0\0\0")
  EXPECT_EQ(CheckOf(0x12345678u), 0x4A090E98u);  // zlib.crc32(bytes.fromhex("12345678"))
}

TEST(FrameCodeTest, NumbersComeBackAndAnyDamagedModuleIsRefused) {
  for (const uint32_t n : {0u, 1u, 2u, 107891u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xA5A5A5A5u}) {
    DataRow row;
    Encode(n, row);
    ASSERT_EQ(Decode(row), n);
    for (int k = 0; k < kModules; ++k) {
      DataRow damaged;
      std::copy(row, row + kModules, damaged);
      damaged[k] = !damaged[k];
      EXPECT_EQ(Decode(damaged), std::nullopt) << n << " module " << k;
    }
  }
}

TEST(FrameCodeTest, AGridOneModuleOffIsRefused) {
  DataRow row, shifted;
  Encode(123456, row);
  for (const int by : {-2, -1, 1, 2}) {
    for (int k = 0; k < kModules; ++k) shifted[k] = k + by >= 0 && k + by < kModules ? row[k + by] : false;
    EXPECT_EQ(Decode(shifted), std::nullopt) << by;
  }
}

}  // namespace
}  // namespace tallyburn::framecode
