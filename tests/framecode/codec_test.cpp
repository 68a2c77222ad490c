// The frame code's bits: the check is zlib's CRC-32, every number comes
// back, no single damaged module reads as a number, and a row read with a
// few modules in doubt and one wrong gives its own number, never another.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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

// Modules between the rows of two numbers.
int Distance(uint32_t a, uint32_t b) {
  DataRow x, y;
  Encode(a, x);
  Encode(b, y);
  int d = 0;
  for (int k = 0; k < kModules; ++k) d += x[k] != y[k] ? 1 : 0;
  return d;
}

TEST(FrameCodeTest, RowsOfTwoNumbersDifferInTenModulesOrMore) {
  // Every difference of up to 4 bits, from two numbers (the code is
  // linear, so the distance depends on the difference only): the least is
  // kDistance, reached by 0x00020025. (Differences of 5 to 9 bits, tried
  // once outside the suite, come no nearer.)
  int least = kModules;
  for (int a = 0; a < 32; ++a)
    for (int b = a; b < 32; ++b)
      for (int c = b; c < 32; ++c)
        for (int d = c; d < 32; ++d) {
          const uint32_t diff = 1u << a | 1u << b | 1u << c | 1u << d;
          for (const uint32_t n : {0u, 0xDEADBEEFu}) least = std::min(least, Distance(n, n ^ diff));
        }
  EXPECT_EQ(least, kDistance);
  EXPECT_EQ(Distance(0, 0x00020025u), kDistance);
}

// n's row with these modules the other level, recovered with these in doubt.
std::optional<uint32_t> RecoverDamaged(uint32_t n, const std::vector<int>& flipped, const std::vector<int>& doubtful) {
  DataRow row;
  Encode(n, row);
  for (const int k : flipped) row[k] = !row[k];
  return Recover(row, doubtful.empty() ? nullptr : doubtful.data(), static_cast<int>(doubtful.size()));
}

TEST(FrameCodeTest, RecoversTheDoubtfulAndOneWrongModule) {
  const struct {
    const char* name;
    std::vector<int> flipped, doubtful;
    bool reads;
  } cases[] = {
      {"whole", {}, {}, true},
      {"whole_with_doubts", {}, {5, 40, 66}, true},
      {"one_wrong_in_the_number", {20}, {}, true},
      {"one_wrong_in_the_check", {50}, {}, true},
      {"one_wrong_in_the_start", {0}, {}, true},
      {"one_wrong_in_the_stop", {67}, {}, true},
      {"three_doubtful_wrong", {3, 34, 60}, {3, 34, 60}, true},
      {"three_doubtful_and_one_more", {3, 34, 60, 12}, {3, 34, 60}, true},
      {"start_and_check_wrong", {1, 40}, {}, false},
      {"two_wrong_not_doubted", {10, 11}, {30}, false},
      {"four_doubtful_wrong_and_one_more", {3, 4, 34, 60, 12}, {3, 34, 60}, false},
  };
  for (const uint32_t n : {0u, 77u, 0xFFFFFFFFu, 0x12345678u}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(n));
      EXPECT_EQ(RecoverDamaged(n, c.flipped, c.doubtful), c.reads ? std::optional<uint32_t>(n) : std::nullopt);
    }
  }
}

TEST(FrameCodeTest, TwoWrongModulesAnywhereAreRefusedNeverReadAsAnother) {
  for (const uint32_t n : {0u, 0x00020025u, 0xA5A5A5A5u}) {
    for (int a = 0; a < kModules; ++a)
      for (int b = a + 1; b < kModules; ++b)
        ASSERT_EQ(RecoverDamaged(n, {a, b}, {}), std::nullopt) << n << " modules " << a << ", " << b;
  }
}

TEST(FrameCodeTest, DoubtsOutsideTheRowOrTooManyAreRefused) {
  DataRow row;
  Encode(9, row);
  const int outside[] = {68}, negative[] = {-1}, four[] = {1, 2, 3, 4};
  EXPECT_EQ(Recover(row, outside, 1), std::nullopt);
  EXPECT_EQ(Recover(row, negative, 1), std::nullopt);
  EXPECT_EQ(Recover(row, four, 4), std::nullopt);
  EXPECT_EQ(Recover(row, nullptr, 1), std::nullopt);
}

}  // namespace
}  // namespace tallyburn::framecode
