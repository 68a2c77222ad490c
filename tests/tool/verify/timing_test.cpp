// The timing of a delivered stream from its numbers and presentation times:
// synthetic captures of players and converters, each with what must be said.
#include <gtest/gtest.h>

#include <map>

#include "tool/verify/timing.h"

namespace tallyburn::testing {
namespace {

using tool::AnalyseTiming;
using tool::TimingReport;
using Numbers = std::vector<std::optional<uint32_t>>;

// A capture: numbers from 0, each shown for the next count of `runs`
// (cycled) or the count `except` gives it, for `frames` delivered frames.
Numbers Pulldown(const std::vector<int>& runs, int frames, const std::map<uint32_t, int>& except = {}) {
  Numbers v;
  for (uint32_t number = 0; static_cast<int>(v.size()) < frames; ++number) {
    const auto it = except.find(number);
    const int count = it != except.end() ? it->second : runs[number % runs.size()];
    for (int k = 0; k < count && static_cast<int>(v.size()) < frames; ++k) v.push_back(number);
  }
  return v;
}

std::vector<double> Evenly(size_t frames, double rate) {
  std::vector<double> t;
  for (size_t i = 0; i < frames; ++i) t.push_back(static_cast<double>(i) / rate);
  return t;
}

// The delivered frames from `at` on carry numbers `by` higher (negative:
// held back, a freeze; positive: skipped).
Numbers Shift(Numbers v, size_t at, int by) {
  for (size_t i = at; i < v.size(); ++i) v[i] = static_cast<uint32_t>(static_cast<int>(*v[i]) + by);
  return v;
}

struct Event {
  int kind;  // 0 freeze, 1 skip, 2 short
  uint32_t number;
  bool operator==(const Event&) const = default;
};

std::vector<Event> EventsOf(const TimingReport& r) {
  std::vector<Event> e;
  for (const auto& f : r.freezes) e.push_back({0, f.number});
  for (const auto& s : r.stutters) e.push_back({s.kind == TimingReport::Stutter::kSkip ? 1 : 2, s.number});
  return e;
}

TEST(TimingTest, CadenceFreezesAndStutters) {
  const Numbers film = Pulldown({3, 2}, 60);  // 24p at 60: numbers 0..23
  std::vector<double> jitter = Evenly(40, 25);
  for (size_t i = 0; i < jitter.size(); ++i) jitter[i] += (i % 2 ? 0.004 : -0.004);
  std::vector<double> stall = Evenly(40, 25);
  for (size_t i = 21; i < stall.size(); ++i) stall[i] += 0.08;  // frame 20 on screen for three intervals
  const struct {
    const char* name;
    Numbers numbers;
    std::vector<double> times;
    std::vector<int> cadence;
    std::vector<Event> events;
  } cases[] = {
      {"film_at_60", film, Evenly(60, 60), {3, 2}, {}},
      {"film_at_60_other_phase", Pulldown({2, 3}, 60), Evenly(60, 60), {3, 2}, {}},
      // Number 10 held two more captures: five frames where three are the most.
      {"film_freeze", Pulldown({3, 2}, 60, {{10, 5}}), Evenly(60, 60), {3, 2}, {{0, 10}}},
      // Number 10 on one capture where two are the fewest.
      {"film_short", Pulldown({3, 2}, 60, {{10, 1}}), Evenly(60, 60), {3, 2}, {{2, 10}}},
      {"film_short_and_freeze", Pulldown({3, 2}, 60, {{7, 1}, {10, 4}}), Evenly(60, 60), {3, 2}, {{0, 10}, {2, 7}}},
      // Number 10 (two frames at 25..26) never shown: 11 follows 9.
      {"film_skip", Shift(film, 25, 1), Evenly(60, 60), {3, 2}, {{1, 11}}},
      {"same_rate", Pulldown({1}, 40), Evenly(40, 25), {1}, {}},
      {"same_rate_repeat", Shift(Pulldown({1}, 40), 20, -1), Evenly(40, 25), {1}, {{0, 19}}},
      {"same_rate_drop", Shift(Pulldown({1}, 40), 20, 2), Evenly(40, 25), {1}, {{1, 22}}},
      {"doubled", Pulldown({2}, 40), Evenly(40, 50), {2}, {}},
      {"jitter_is_no_freeze", Pulldown({1}, 40), jitter, {1}, {}},
      {"stalled_player", Pulldown({1}, 40), stall, {1}, {{0, 20}}},
      // No pattern: the frames held five captures, where most are held two,
      // are freezes.
      {"no_cadence", Pulldown({1, 4, 2, 1, 3, 1, 1, 2, 5, 1, 2}, 60), Evenly(60, 60), {}, {{0, 8}, {0, 19}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TimingReport r = AnalyseTiming(c.numbers, c.times);
    EXPECT_EQ(r.cadence, c.cadence);
    EXPECT_EQ(EventsOf(r), c.events);
  }
}

TEST(TimingTest, DurationsAndTheSpreadOfIntervals) {
  const Numbers v = {0, 1, 1, 2, std::nullopt, 3};
  const std::vector<double> t = {0.0, 0.040, 0.080, 0.120, 0.200, 0.240};
  const TimingReport r = AnalyseTiming(v, t, 0.280);
  ASSERT_EQ(r.durations.size(), 6u);
  EXPECT_NEAR(*r.durations[3], 0.080, 1e-12);
  EXPECT_NEAR(*r.durations[5], 0.040, 1e-12);
  EXPECT_FALSE(AnalyseTiming(v, t).durations[5].has_value());
  // Runs: 0, 1 (two frames), 2, unreadable, 3.
  ASSERT_EQ(r.shown.size(), 5u);
  EXPECT_EQ(r.shown[1].frames, 2);
  EXPECT_NEAR(*r.shown[1].duration, 0.080, 1e-12);
  EXPECT_FALSE(r.shown[3].number.has_value());
  EXPECT_EQ(r.intervals.count, 5);
  EXPECT_NEAR(r.intervals.min, 0.040, 1e-12);
  EXPECT_NEAR(r.intervals.max, 0.080, 1e-12);
  EXPECT_NEAR(r.intervals.median, 0.040, 1e-12);
  EXPECT_NEAR(r.intervals.mean, 0.048, 1e-12);
  EXPECT_NEAR(r.intervals.stddev, 0.016, 1e-12);
}

TEST(TimingTest, CadenceAsWritten) {
  EXPECT_EQ(tool::CadenceText({3, 2}), "3:2");
  EXPECT_EQ(tool::CadenceText({2}), "2:2");
  EXPECT_EQ(tool::CadenceText({}), "");
}

}  // namespace
}  // namespace tallyburn::testing
