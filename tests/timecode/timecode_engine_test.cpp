// The timecode engine: published vectors, whole days at every rate and mode,
// parsing and refusals.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "timecode/timecode_engine.h"

namespace tallyburn::tc {
namespace {

constexpr Mode kDf2997{30, 2};
constexpr Mode kNdf2997{30, 0};
constexpr Mode kDf5994{60, 4};

std::string Text(const Label& l, Mode m) {
  char buf[kMaxLabelText];
  return std::string(buf, static_cast<size_t>(FormatLabel(l, m, buf)));
}

Label Parse(const std::string& s) {
  Label l{};
  bool drop = false;
  EXPECT_TRUE(ParseLabel(s, &l, &drop)) << s;
  return l;
}

TEST(TimecodeEngineTest, PublishedVectors) {
  const struct {
    Mode mode;
    int64_t frame;
    const char* label;
  } cases[] = {
      {kDf2997, 1800, "00:01:00;02"},   {kDf2997, 17982, "00:10:00;00"},         {kDf2997, 107892, "01:00:00;00"},
      {kDf2997, 107957, "01:00:02;05"}, {kNdf2997, 107957, "00:59:58:17"},       {kDf2997, 1799, "00:00:59;29"},
      {kDf5994, 3600, "00:01:00;04"},   {kDf5994, 35964, "00:10:00;00"},         {{25, 0}, 0, "00:00:00:00"},
      {{120, 8}, 7200, "00:01:00;008"}, {{100, 0}, 8640000 - 1, "23:59:59:099"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(LabelAt(c.frame, c.mode), c.mode), c.label) << c.frame;
    EXPECT_EQ(IndexOf(Parse(c.label), c.mode), c.frame) << c.label;
  }
  // 01:00:34;01 at 59.94 drop-frame to a frame and back.
  const int64_t n = IndexOf(Parse("01:00:34;01"), kDf5994);
  EXPECT_EQ(Text(LabelAt(n, kDf5994), kDf5994), "01:00:34;01");
}

TEST(TimecodeEngineTest, TheClockRunsOnPastADayAndBackBeforeZero) {
  EXPECT_EQ(Text(LabelAt(-1, {25, 0}), {25, 0}), "23:59:59:24");
  EXPECT_EQ(Text(LabelAt(FramesPerDay({25, 0}), {25, 0}), {25, 0}), "00:00:00:00");
  EXPECT_EQ(FramesPerDay(kDf2997), 2589408);
  EXPECT_EQ(Text(LabelAt(-1, kDf2997), kDf2997), "23:59:59;29");
  EXPECT_EQ(Text(LabelAt(3 * FramesPerDay(kDf5994) + 3600, kDf5994), kDf5994), "00:01:00;04");
}

// Every label of a day, in order, at every rate and mode: strictly
// increasing, each back to its own frame, and the steps skip exactly the
// labels drop-frame drops.
TEST(TimecodeEngineTest, WholeDaysAtEveryRateAndMode) {
  for (const Rate& rate : Rates()) {
    const std::vector<int> drops = rate.drop_labels > 0 ? std::vector<int>{0, rate.drop_labels} : std::vector<int>{0};
    for (const int drop : drops) {
      const Mode mode{rate.base, drop};
      SCOPED_TRACE(std::string(rate.name) + (drop ? " drop-frame" : " non-drop"));
      Label prev = LabelAt(0, mode);
      ASSERT_EQ(IndexOf(prev, mode), 0);
      int64_t skipped = 0;
      const int64_t day = FramesPerDay(mode);
      for (int64_t n = 1; n < day; ++n) {
        const Label l = LabelAt(n, mode);
        // The label after prev when nothing is skipped.
        Label next = prev;
        if (++next.frames == mode.base) {
          next.frames = 0;
          if (++next.seconds == 60) {
            next.seconds = 0;
            if (++next.minutes == 60) {
              next.minutes = 0;
              ++next.hours;
            }
          }
        }
        const bool dropped_minute = next.seconds == 0 && next.frames == 0 && next.minutes % 10 != 0;
        if (drop > 0 && dropped_minute) {
          next.frames = drop;
          ++skipped;
        }
        if (std::tie(l.hours, l.minutes, l.seconds, l.frames) !=
                std::tie(next.hours, next.minutes, next.seconds, next.frames) ||
            IndexOf(l, mode) != n || !WhyInvalid(l, mode).empty()) {
          FAIL() << "frame " << n << " is " << Text(l, mode) << ", after " << Text(prev, mode);
        }
        prev = l;
      }
      EXPECT_EQ(Text(prev, mode).substr(0, 8), "23:59:59");
      EXPECT_EQ(prev.frames, mode.base - 1);
      EXPECT_EQ(skipped, drop > 0 ? 24 * 54 : 0);
    }
  }
}

TEST(TimecodeEngineTest, LabelsThatCannotExistSayWhy) {
  const struct {
    const char* label;
    Mode mode;
    const char* why;
  } cases[] = {
      {"00:01:00;00", kDf2997, "drop-frame skips frames 0 to 1"},
      {"00:01:00;03", kDf5994, "drop-frame skips frames 0 to 3"},
      {"00:00:00:25", {25, 0}, "frames run from 0 to 24"},
      {"00:00:60:00", {25, 0}, "seconds run from 00 to 59"},
      {"00:60:00:00", {25, 0}, "minutes run from 00 to 59"},
      {"24:00:00:00", {25, 0}, "hours run from 00 to 23"},
  };
  for (const auto& c : cases) EXPECT_EQ(WhyInvalid(Parse(c.label), c.mode).rfind(c.why, 0), 0u) << c.label;
  EXPECT_EQ(WhyInvalid(Parse("00:10:00;00"), kDf2997), "");
  EXPECT_EQ(WhyInvalid(Parse("00:01:00:00"), kNdf2997), "");
}

TEST(TimecodeEngineTest, ParsesLabelsAndTellsTheDropSeparator) {
  Label l{};
  bool drop = false;
  ASSERT_TRUE(ParseLabel("01:02:03;04", &l, &drop));
  EXPECT_TRUE(drop);
  EXPECT_EQ(std::tie(l.hours, l.minutes, l.seconds, l.frames), std::make_tuple(1, 2, 3, 4));
  ASSERT_TRUE(ParseLabel("10:20:30:119", &l, &drop));
  EXPECT_FALSE(drop);
  EXPECT_EQ(l.frames, 119);
  for (const char* bad : {"", "1:02:03:04", "01:02:03", "01-02-03-04", "01:02:03:0x", "01:02:03:04 ", "aa:bb:cc:dd",
                          "01;02:03:04", "01:02:03:1234"})
    EXPECT_FALSE(ParseLabel(bad, &l, &drop)) << bad;
}

TEST(TimecodeEngineTest, RatesMatchWithinAHundredthOfAPercent) {
  const struct {
    const char* text;
    const char* rate;  // nullptr: no timecode rate
  } cases[] = {
      {"29.97", "29.97"}, {"30000/1001", "29.97"}, {"2997/100", "29.97"}, {"30", "30"},         {"23.976", "23.976"},
      {"24", "24"},       {"59.94", "59.94"},      {"119.88", "119.88"},  {"47.952", "47.952"}, {"100", "100"},
      {"12.5", nullptr},  {"29.9", nullptr},       {"29.985", nullptr},   {"1000", nullptr},
  };
  for (const auto& c : cases) {
    uint64_t n = 0, d = 0;
    ASSERT_TRUE(ParseRate(c.text, &n, &d)) << c.text;
    const Rate* r = MatchRate(n, d);
    EXPECT_EQ(r ? r->name : "none", std::string(c.rate ? c.rate : "none")) << c.text;
  }
  uint64_t n = 0, d = 0;
  for (const char* bad : {"", "0", "-25", "25/0", "abc", "25fps", "29.97.1", "/1001", "1e3"})
    EXPECT_FALSE(ParseRate(bad, &n, &d)) << bad;
  EXPECT_EQ(MatchRate(0, 0), nullptr);
}

}  // namespace
}  // namespace tallyburn::tc
