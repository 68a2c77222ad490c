#include "tool/verify/report.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace tallyburn::tool {
namespace {

// Consecutive values as ranges.
template <typename T>
std::vector<std::pair<T, T>> Ranges(const std::vector<T>& sorted) {
  std::vector<std::pair<T, T>> out;
  for (const T v : sorted) {
    if (!out.empty() && out.back().second + 1 == v)
      out.back().second = v;
    else
      out.push_back({v, v});
  }
  return out;
}

}  // namespace

std::string CadenceText(const std::vector<int>& cadence) {
  if (cadence.empty()) return "";
  std::string s = std::to_string(cadence[0]);
  for (size_t i = 1; i < std::max<size_t>(cadence.size(), 2); ++i)
    s += ":" + std::to_string(cadence[i % cadence.size()]);
  return s;
}

bool SyncReport::in_step(double tolerance_ms) const {
  return measured > 0 && missing == 0 && extra == 0 && unreadable == 0 && no_frame == 0 && min_ms &&
         std::abs(*min_ms) <= tolerance_ms && std::abs(*max_ms) <= tolerance_ms;
}

bool VerifyReport::intact() const {
  return !numbers.empty() && decoded == static_cast<int>(numbers.size()) && dropped.empty() && repeated.empty() &&
         out_of_order.empty() && unexpected.empty() && damaged.empty() && !cut;
}

VerifyReport Analyse(std::vector<std::optional<uint32_t>> numbers, std::optional<NumberRange> expect) {
  VerifyReport r;
  r.numbers = std::move(numbers);
  std::map<uint32_t, std::vector<int>> seen;
  std::vector<int> unreadable;
  std::optional<uint32_t> previous;
  for (int i = 0; i < static_cast<int>(r.numbers.size()); ++i) {
    const std::optional<uint32_t>& n = r.numbers[i];
    if (!n) {
      unreadable.push_back(i);
      continue;
    }
    ++r.decoded;
    seen[*n].push_back(i);
    if (!r.starts_at) r.starts_at = n;
    r.ends_at = n;
    if (previous && *n < *previous) r.out_of_order.push_back({i, *n, *previous});
    previous = n;
  }
  for (const auto& [a, b] : Ranges(unreadable)) r.unreadable.push_back({a, b});
  if (seen.empty()) return r;

  r.expected = expect ? *expect : NumberRange{seen.begin()->first, seen.rbegin()->first};
  std::vector<uint32_t> outside;
  for (const auto& [n, frames] : seen) {
    if (frames.size() > 1) r.repeated.push_back({n, frames});
    if (n < r.expected->first || n > r.expected->last) outside.push_back(n);
  }
  for (const auto& [a, b] : Ranges(outside)) r.unexpected.push_back({a, b});
  // Gaps between the numbers seen within the expected range.
  uint64_t next = r.expected->first;
  for (auto it = seen.lower_bound(r.expected->first); it != seen.end() && it->first <= r.expected->last; ++it) {
    if (it->first > next) r.dropped.push_back({static_cast<uint32_t>(next), it->first - 1});
    next = uint64_t{it->first} + 1;
  }
  if (next <= r.expected->last) r.dropped.push_back({static_cast<uint32_t>(next), r.expected->last});
  return r;
}

}  // namespace tallyburn::tool
