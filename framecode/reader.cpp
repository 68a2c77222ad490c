#include "framecode/reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "framecode/codec.h"
#include "framecode/layout.h"

namespace tallyburn::framecode {
namespace {

// The luma range's share of full scale (219 of 255 at 8 bits), and the
// least contrast read, of full scale, less a little for rounding.
constexpr float kRangeOfFullScale = 219.0f / 255;
constexpr float kLeastLevels = static_cast<float>(kLeastContrast) * kRangeOfFullScale * 0.9f;
// A scan line's edges are where it swings up or down by this much, of full
// scale: first by a lot, which noise does not reach, then by less and less,
// for strips of little contrast (each tried only where the one before
// reads no strip on the line).
constexpr float kSwings[] = {0.2f, 0.1f, 0.05f};
// The smallest module read, in pixels: two, less a little for rounding.
constexpr double kSmallestModule = 1.8;
// A clock module may measure this much off the mean, for blur and rounding.
constexpr double kRunTolerance = 0.45;
// A data module nearer the threshold than this share of half the contrast
// is doubtful: tried at both levels, the most doubtful kMaxDoubtful first.
constexpr double kDoubtful = 0.5;

constexpr int kClockRuns = kModules - 1;  // the last clock module runs into the border
constexpr int kLightRuns = (kClockRuns + 1) / 2, kDarkRuns = kClockRuns / 2;  // 34 and 33
// A data module is thresholded between the clock's light and dark modules
// this many modules either side of it: the levels a vignette, a lamp or a
// screen's falloff leaves there.
constexpr int kLocalReach = 6;

float Median(float* v, int n) {
  std::nth_element(v, v + n / 2, v + n);
  return v[n / 2];
}

}  // namespace

void Reader::LoadLine(const LumaView& luma, int y, std::vector<float>& out) const {
  out.resize(static_cast<size_t>(luma.width));
  const uint8_t* p = luma.data + y * luma.pitch;
  const ptrdiff_t stride = luma.stride;
  switch (luma.bytes_per_sample) {
    case 1:
      for (int x = 0; x < luma.width; ++x) out[x] = p[x * stride] * (1.0f / 255);
      break;
    case 2: {
      const float scale = 1.0f / static_cast<float>((1 << std::clamp(luma.bits, 1, 16)) - 1);
      for (int x = 0; x < luma.width; ++x) {
        uint16_t v;
        std::memcpy(&v, p + x * stride, 2);
        out[x] = v * scale;
      }
      break;
    }
    default:
      for (int x = 0; x < luma.width; ++x) {
        float v;
        std::memcpy(&v, p + x * stride, 4);
        out[x] = std::isfinite(v) ? std::clamp(v, -4.0f, 4.0f) : 0.0f;
      }
  }
}

// The line's edges: it is followed up to each peak and down to each trough,
// an extreme counting once the line has come back from it by `swing`; an
// edge is where the line crosses halfway between a trough and the next
// peak (or the other way), to a fraction of a pixel. Levels anywhere in the
// range give the same edges.
void Reader::FindEdges(float swing) {
  edges_.clear();
  const float* v = line_.data();
  const int n = static_cast<int>(line_.size());
  if (n == 0) return;
  const auto edge = [&](int from, float a, int to, float b) {
    const float mid = (a + b) / 2;
    const bool rising = b > a;
    for (int x = from + 1; x <= to; ++x) {
      if (rising ? v[x] > mid : v[x] < mid) {
        edges_.push_back({static_cast<float>(x - 1) + (mid - v[x - 1]) / (v[x] - v[x - 1]), a, b, rising});
        return;
      }
    }
  };
  int dir = 0;  // 1 climbing to a peak, -1 falling to a trough, 0 not yet known
  float lo = v[0], hi = v[0], last = 0;
  int lo_x = 0, hi_x = 0, last_x = 0;  // the last extreme counted
  for (int x = 1; x < n; ++x) {
    const float s = v[x];
    if (dir >= 0 && s > hi) {
      hi = s;
      hi_x = x;
    }
    if (dir <= 0 && s < lo) {
      lo = s;
      lo_x = x;
    }
    if (dir <= 0 && s - lo > swing) {  // a trough
      if (dir < 0) edge(last_x, last, lo_x, lo);
      last = lo, last_x = lo_x;
      dir = 1, hi = s, hi_x = x;
    } else if (dir >= 0 && hi - s > swing) {  // a peak
      if (dir > 0) edge(last_x, last, hi_x, hi);
      last = hi, last_x = hi_x;
      dir = -1, lo = s, lo_x = x;
    }
  }
  if (dir > 0) edge(last_x, last, hi_x, hi);
  if (dir < 0) edge(last_x, last, lo_x, lo);
}

// Halos (a sharpened edge overshooting, then settling back) and noise make
// small swings inside a module: a dip in a light one, a bump in a dark one.
// Such an extreme is dropped, with the edges either side of it, where it
// does not come halfway back to the levels of the extremes around it, as
// every module of a clock does. True when any was dropped.
bool Reader::MergeHalos() {
  // In place: the edges kept are edges_[0, kept), never ahead of the one read.
  const size_t n = edges_.size();
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    Edge e = edges_[i];
    if (kept > 0) e.from = edges_[kept - 1].to;
    if (kept >= 2 && i + 1 < n) {
      // before -> x1 -> d -> x2 -> after, d the extreme between the last
      // edge kept and this one.
      const float before = edges_[kept - 2].from, x1 = edges_[kept - 1].from, d = e.from, x2 = e.to;
      const float after = edges_[i + 1].to;
      const bool dip = e.rising;  // d a trough
      const bool halo = dip ? d > (std::min(x1, x2) + std::max(before, after)) / 2
                            : d < (std::max(x1, x2) + std::min(before, after)) / 2;
      if (halo) {
        --kept;
        edges_[kept - 1].to = dip ? std::max(x1, x2) : std::min(x1, x2);
        continue;
      }
    }
    edges_[kept++] = e;
  }
  edges_.resize(kept);
  return kept < n;
}

// The strip whose clock starts at edge `first`, if there is one there.
std::optional<uint32_t> Reader::ReadClock(const LumaView& luma, int y, size_t first) {
  const Edge* e = edges_.data() + first;
  const double module = static_cast<double>(e[kClockRuns].x - e[0].x) / kClockRuns;
  const double before = first > 0 ? e[0].x - e[-1].x : e[0].x;
  const double after =
      (first + kClockRuns + 1 < edges_.size() ? e[kClockRuns + 1].x : static_cast<double>(line_.size())) -
      e[kClockRuns].x;
  if (module < kSmallestModule) return std::nullopt;
  for (int k = 0; k < kClockRuns; ++k)
    if (std::abs(e[k + 1].x - e[k].x - module) > module * kRunTolerance) return std::nullopt;

  // Each module's middle, evenly spaced.
  double centre[kModules], half[kModules];
  for (int k = 0; k < kModules; ++k) {
    centre[k] = e[0].x + module * (k + 0.5);
    half[k] = module / 4;
  }
  // A module's level on a line: the mean of its middle half.
  const auto level_at = [&](const std::vector<float>& line, double middle, double quarter) {
    int from = static_cast<int>(std::ceil(middle - quarter)), to = static_cast<int>(std::floor(middle + quarter));
    if (from > to) from = to = static_cast<int>(std::lround(middle));
    from = std::max(from, 0);
    to = std::min(to, static_cast<int>(line.size()) - 1);
    if (from > to) return 0.0f;
    float sum = 0;
    for (int x = from; x <= to; ++x) sum += line[x];
    return sum / static_cast<float>(to - from + 1);
  };
  const auto level = [&](const std::vector<float>& line, int k) { return level_at(line, centre[k], half[k]); };
  // The clock's own levels set the threshold for the data row: medians of
  // its light and dark modules, which a halo, a clipped white, noise or a
  // smeared block in a few of them do not move.
  float levels[kClockRuns], lights[kLightRuns], darks[kDarkRuns];
  for (int k = 0; k < kClockRuns; ++k) {
    levels[k] = level(line_, k);
    (k % 2 == 0 ? lights[k / 2] : darks[k / 2]) = levels[k];
  }
  const float light = Median(lights, kLightRuns), dark = Median(darks, kDarkRuns), middle = (light + dark) / 2;
  if (light - dark < kLeastLevels) return std::nullopt;
  // The border: dark for a module before the clock and after its last dark
  // module, by its width on the line, or by its level where a halo moved
  // the edges beside it.
  const double step = centre[1] - centre[0], last_step = centre[kModules - 1] - centre[kModules - 2];
  if (before < module * 0.6 && level_at(line_, centre[0] - step, half[0]) > middle) return std::nullopt;
  if (after < module * 1.4 && (level(line_, kModules - 1) > middle ||
                               level_at(line_, centre[kModules - 1] + last_step, half[kModules - 1]) > middle))
    return std::nullopt;

  // The data row is the next module row: the same place in it as the scan
  // line in the clock's.
  const int data_y = y + static_cast<int>(std::lround(module));
  if (data_y >= luma.height) return std::nullopt;
  LoadLine(luma, data_y, below_);
  double data[kModules];
  for (int k = 0; k < kModules; ++k) data[k] = level(below_, k);
  // The row thresholded between the clock's levels, the most doubtful
  // modules (nearest the threshold, least sure first) tried at both.
  const auto read_row = [&](const auto& levels_at) {
    DataRow row;
    double doubt[kModules];
    int doubtful[kMaxDoubtful];
    int count = 0;
    for (int k = 0; k < kModules; ++k) {
      const auto [light_k, dark_k] = levels_at(k);
      const double threshold = (light_k + dark_k) / 2;
      const double half_contrast = std::max((light_k - dark_k) / 2, kLeastLevels / 2.0);
      row[k] = data[k] > threshold;
      doubt[k] = std::abs(data[k] - threshold) / half_contrast;
      if (doubt[k] >= kDoubtful || (count == kMaxDoubtful && doubt[k] >= doubt[doubtful[count - 1]])) continue;
      int at = std::min(count, kMaxDoubtful - 1);
      count = std::min(count + 1, kMaxDoubtful);
      for (; at > 0 && doubt[doubtful[at - 1]] > doubt[k]; --at) doubtful[at] = doubtful[at - 1];
      doubtful[at] = k;
    }
    return Recover(row, doubtful, count);
  };
  // The whole clock's levels; then, where they differ along the row (a
  // vignette, a lamp, a screen's falloff), those of the clock's modules
  // either side of each data module.
  auto number = read_row([&](int) { return std::pair<double, double>(light, dark); });
  if (!number) {
    number = read_row([&](int k) {
      const int from = std::max(0, k - kLocalReach), to = std::min(kClockRuns - 1, k + kLocalReach);
      float near_light[kLocalReach + 1] = {}, near_dark[kLocalReach + 1] = {};
      int lights_near = 0, darks_near = 0;
      for (int i = from; i <= to; ++i) (i % 2 == 0 ? near_light[lights_near++] : near_dark[darks_near++]) = levels[i];
      return std::pair<double, double>(Median(near_light, lights_near), Median(near_dark, darks_near));
    });
  }
  return number;
}

// A clock's intervals are each within kRunTolerance of their mean, so no
// two differ by more than kMostRatio: the clocks tried are those whose
// neighbouring intervals all hold that, found in one pass (noise has few).
std::optional<uint32_t> Reader::ReadEdges(const LumaView& luma, int y) {
  constexpr double kMostRatio = (1 + kRunTolerance) / (1 - kRunTolerance) * 1.001;
  const size_t n = edges_.size();
  const Edge* e = edges_.data();
  // Where interval j (edge j - 1 to j) differs too much from the one before.
  const auto breaks = [&](size_t j) {
    const double a = e[j - 1].x - e[j - 2].x, b = e[j].x - e[j - 1].x;
    return a > b * kMostRatio || b > a * kMostRatio;
  };
  size_t next = 2;  // the first break at or after i + 2, as far as looked
  for (size_t i = 0; i + kClockRuns < n; ++i) {
    next = std::max(next, i + 2);
    while (next <= i + kClockRuns && !breaks(next)) ++next;
    if (next <= i + kClockRuns) {  // every clock from here to next - 2 spans the break
      i = next - 2;
      continue;
    }
    if (e[i].rising)
      if (const auto number = ReadClock(luma, y, i)) return number;
  }
  return std::nullopt;
}

// The line's strip at a swing, with the halos dropped where `merged`.
std::optional<uint32_t> Reader::ReadLine(const LumaView& luma, int y, float swing, bool merged) {
  FindEdges(swing);
  if (merged) MergeHalos();
  return ReadEdges(luma, y);
}

// The strip on line_: at each swing, then at the
// smallest with the halos dropped; the swing and whether dropped saved.
std::optional<uint32_t> Reader::ReadSwings(const LumaView& luma, int y) {
  for (const float swing : kSwings) {
    if (const auto number = ReadLine(luma, y, swing, false)) {
      swing_ = swing;
      merged_swing_ = false;
      return number;
    }
  }
  // edges_ holds the smallest swing's.
  if (!MergeHalos()) return std::nullopt;
  swing_ = kSwings[std::size(kSwings) - 1];
  merged_swing_ = true;
  return ReadEdges(luma, y);
}

std::optional<uint32_t> Reader::Read(const LumaView& luma) {
  if (luma.data == nullptr || luma.width <= 0 || luma.height <= 0 || luma.stride < luma.bytes_per_sample ||
      (luma.bytes_per_sample != 1 && luma.bytes_per_sample != 2 && luma.bytes_per_sample != 4))
    return std::nullopt;
  if (last_y_ >= 0 && last_y_ < luma.height) {
    LoadLine(luma, last_y_, line_);
    if (const auto number = ReadLine(luma, last_y_, last_swing_, last_merged_)) return number;
  }
  // Every line, each loaded once for every swing: the lines of a 2-pixel
  // module's row are not alike after encoding or scaling, and one of them
  // may be the only one that reads.
  for (int y = 0; y < luma.height; ++y) {
    LoadLine(luma, y, line_);
    // A smaller swing finds at least the edges a larger one does (less the
    // one or two where the line starts and ends): a line with too few
    // edges for a clock at the smallest has none at any.
    FindEdges(kSwings[std::size(kSwings) - 1]);
    if (edges_.size() + 4 < kClockRuns + 1) continue;
    if (const auto number = ReadSwings(luma, y)) {
      last_y_ = y;
      last_swing_ = swing_;
      last_merged_ = merged_swing_;
      return number;
    }
  }
  return std::nullopt;
}

}  // namespace tallyburn::framecode
