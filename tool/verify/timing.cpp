#include "tool/verify/timing.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace tallyburn::tool {
namespace {

// The longest cadence looked for: 5 covers 3:2 (24 at 60), 2:2:2:4 and
// 2:3:3:2 (24 at 60 in the advanced pull-downs) and 5:5 (12 at 60).
constexpr int kLongestCadence = 5;
// The share of runs that must follow the pattern for it to be the cadence:
// a few freezes and skips in a capture must not hide it.
constexpr double kCadenceHolds = 0.8;
// A freeze is a source frame held at least one capture longer than the
// cadence's longest run: held half an interval longer is the line, so that
// jitter in the times stays below it. With no cadence, a frame held more
// than twice as long as most (and the same half interval) is.
constexpr double kFreezeMargin = 0.5;
constexpr double kFreezeFactorWithoutCadence = 2.0;

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  const size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<ptrdiff_t>(mid), v.end());
  const double upper = v[mid];
  if (v.size() % 2 != 0) return upper;
  return (*std::max_element(v.begin(), v.begin() + static_cast<ptrdiff_t>(mid)) + upper) / 2;
}

TimingReport::Spread SpreadOf(const std::vector<double>& times) {
  TimingReport::Spread s;
  std::vector<double> d;
  for (size_t i = 1; i < times.size(); ++i) d.push_back(times[i] - times[i - 1]);
  if (d.empty()) return s;
  s.count = static_cast<int>(d.size());
  s.min = *std::min_element(d.begin(), d.end());
  s.max = *std::max_element(d.begin(), d.end());
  s.mean = std::accumulate(d.begin(), d.end(), 0.0) / static_cast<double>(d.size());
  double squares = 0;
  for (const double x : d) squares += (x - s.mean) * (x - s.mean);
  s.stddev = std::sqrt(squares / static_cast<double>(d.size()));
  s.median = Median(d);
  return s;
}

std::vector<int> LargestRotation(std::vector<int> pattern) {
  std::vector<int> best = pattern;
  for (size_t i = 1; i < pattern.size(); ++i) {
    std::rotate(pattern.begin(), pattern.begin() + 1, pattern.end());
    best = std::max(best, pattern);
  }
  return best;
}

// The shortest period that most runs follow, and its most frequent window;
// the first and last runs are left out, as a capture starts and ends
// anywhere in the pattern.
std::vector<int> CadenceOf(const std::vector<TimingReport::Shown>& shown) {
  std::vector<int> runs;
  for (size_t i = 1; i + 1 < shown.size(); ++i) runs.push_back(shown[i].number ? shown[i].frames : 0);
  for (int p = 1; p <= kLongestCadence; ++p) {
    const size_t period = static_cast<size_t>(p);
    if (runs.size() < 3 * period) break;
    size_t same = 0;
    for (size_t i = period; i < runs.size(); ++i) same += runs[i] == runs[i - period] && runs[i] > 0;
    if (static_cast<double>(same) < kCadenceHolds * static_cast<double>(runs.size() - period)) continue;
    std::map<std::vector<int>, int> windows;
    for (size_t i = 0; i + period <= runs.size(); ++i)
      ++windows[LargestRotation(
          {runs.begin() + static_cast<ptrdiff_t>(i), runs.begin() + static_cast<ptrdiff_t>(i + period)})];
    const auto most = std::max_element(windows.begin(), windows.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    return most->first;
  }
  return {};
}

}  // namespace

TimingReport AnalyseTiming(const std::vector<std::optional<uint32_t>>& numbers, const std::vector<double>& times,
                           std::optional<double> end) {
  TimingReport r;
  const size_t n = std::min(numbers.size(), times.size());
  for (size_t i = 0; i < n; ++i)
    r.durations.push_back(i + 1 < n ? std::optional<double>(times[i + 1] - times[i])
                          : end     ? std::optional<double>(*end - times[i])
                                    : std::nullopt);
  r.intervals = SpreadOf({times.begin(), times.begin() + static_cast<ptrdiff_t>(n)});

  for (size_t i = 0; i < n; ++i) {
    if (!r.shown.empty() && r.shown.back().number == numbers[i]) {
      ++r.shown.back().frames;
    } else {
      r.shown.push_back({numbers[i], static_cast<int>(i), 1, times[i], std::nullopt});
    }
  }
  for (TimingReport::Shown& s : r.shown) {
    const size_t next = static_cast<size_t>(s.frame) + static_cast<size_t>(s.frames);
    if (next < n)
      s.duration = times[next] - s.time;
    else if (end)
      s.duration = *end - s.time;
  }
  r.cadence = CadenceOf(r.shown);

  // The longest a source frame may stay.
  std::vector<double> stays;
  for (const TimingReport::Shown& s : r.shown)
    if (s.number && s.duration) stays.push_back(*s.duration);
  const double longest =
      r.cadence.empty() ? kFreezeFactorWithoutCadence * Median(stays) + kFreezeMargin * r.intervals.mean
                        : (*std::max_element(r.cadence.begin(), r.cadence.end()) + kFreezeMargin) * r.intervals.mean;
  const int fewest = r.cadence.empty() ? 0 : *std::min_element(r.cadence.begin(), r.cadence.end());
  for (size_t k = 0; k < r.shown.size(); ++k) {
    const TimingReport::Shown& s = r.shown[k];
    if (!s.number) continue;
    if (s.duration && *s.duration > longest) r.freezes.push_back({s.frame, *s.number, s.time, *s.duration, s.frames});
    const std::optional<uint32_t> before = k > 0 ? r.shown[k - 1].number : std::nullopt;
    if (before && uint64_t{*s.number} > uint64_t{*before} + 1)
      r.stutters.push_back({TimingReport::Stutter::kSkip, s.frame, *s.number, s.time, *s.number - *before - 1});
    else if (k > 0 && k + 1 < r.shown.size() && s.frames < fewest)
      r.stutters.push_back({TimingReport::Stutter::kShort, s.frame, *s.number, s.time, 0});
  }
  return r;
}

}  // namespace tallyburn::tool
