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

// Pieces of clock crossed by a scan line at an angle: 1 / tan(angle)
// modules, about 5.7 at 10 degrees; a fragment is at least this many
// intervals, each this near the fragment's mean.
constexpr int kLeastFragment = 3;
constexpr double kFragmentTolerance = 0.3;
// Angles the pieces are lined up at, either way from level, and the step:
// half a degree moves a 68-module row a little over half a module.
constexpr double kMostTurn = 12 * 3.14159265358979 / 180;
constexpr int kTurns = 49;
// Paths tried, each seeded by the longest piece on none tried before, and
// the periods of other pieces taken to be the same clock's (seen at an
// angle, the modules differ along the row).
constexpr int kSeeds = 8;
constexpr double kPeriodTolerance = 0.25;

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

namespace {

// One sample at (x, y), on the same scale as LoadLine's.
float SampleAt(const LumaView& luma, int x, int y) {
  const uint8_t* p = luma.data + y * luma.pitch + static_cast<ptrdiff_t>(x) * luma.stride;
  switch (luma.bytes_per_sample) {
    case 1: return *p * (1.0f / 255);
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v / static_cast<float>((1 << std::clamp(luma.bits, 1, 16)) - 1);
    }
    default: {
      float v;
      std::memcpy(&v, p, 4);
      return std::isfinite(v) ? std::clamp(v, -4.0f, 4.0f) : 0.0f;
    }
  }
}

// Between the samples around (x, y), the picture's edge repeated beyond it.
float Bilinear(const LumaView& luma, double x, double y) {
  x = std::clamp(x, 0.0, luma.width - 1.0);
  y = std::clamp(y, 0.0, luma.height - 1.0);
  const int x0 = std::min(static_cast<int>(x), luma.width - 1), y0 = std::min(static_cast<int>(y), luma.height - 1);
  const int x1 = std::min(x0 + 1, luma.width - 1), y1 = std::min(y0 + 1, luma.height - 1);
  const float fx = static_cast<float>(x - x0), fy = static_cast<float>(y - y0);
  if (luma.bytes_per_sample == 1) {  // the common case, without a switch per sample
    const uint8_t* a = luma.data + y0 * luma.pitch;
    const uint8_t* b = luma.data + y1 * luma.pitch;
    const ptrdiff_t s0 = static_cast<ptrdiff_t>(x0) * luma.stride, s1 = static_cast<ptrdiff_t>(x1) * luma.stride;
    const float top = a[s0] * (1 - fx) + a[s1] * fx, bottom = b[s0] * (1 - fx) + b[s1] * fx;
    return (top * (1 - fy) + bottom * fy) * (1.0f / 255);
  }
  const float top = SampleAt(luma, x0, y0) * (1 - fx) + SampleAt(luma, x1, y0) * fx;
  const float bottom = SampleAt(luma, x0, y1) * (1 - fx) + SampleAt(luma, x1, y1) * fx;
  return top * (1 - fy) + bottom * fy;
}

}  // namespace

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

// Runs of at least kLeastFragment near-equal intervals among the line's
// edges, kept for the search along paths.
void Reader::CollectFragments(int y) {
  constexpr size_t kMostFragments = 1 << 16;  // a bound on a picture of nothing but fine texture
  const size_t n = edges_.size();
  size_t i = 0;
  while (i + kLeastFragment < n && fragments_.size() < kMostFragments) {
    size_t j = i + 1;  // the run is edges i to j
    double sum = edges_[j].x - edges_[i].x;
    if (sum < kSmallestModule) {
      i = j;
      continue;
    }
    for (; j + 1 < n; ++j) {
      const double d = edges_[j + 1].x - edges_[j].x, mean = sum / static_cast<double>(j - i);
      if (std::abs(d - mean) > mean * kFragmentTolerance) break;
      sum += d;
    }
    // Longer than a clock is a grating, not a clock crossed at an angle;
    // modules too large for a whole clock across the line are no clock's.
    const double most_period = static_cast<double>(line_.size()) / (kModules * std::cos(kMostTurn));
    if (j - i >= kLeastFragment && j - i <= kModules + 1 && sum <= most_period * static_cast<double>(j - i))
      fragments_.push_back({edges_[i].x, edges_[j].x, y, static_cast<int>(j - i)});
    i = j;
  }
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
  // The border: a module before the clock and two after its last edge (its
  // last module and the border), by their widths on a scan line, first, as
  // that rules out most places; by their levels (below) where halos were
  // dropped, which move the edges beside the border, and along a path.
  const bool level_border = halos_dropped_ || path_ != nullptr;
  if (!level_border && (before < module * 0.6 || after < module * 1.4)) return std::nullopt;
  for (int k = 0; k < kClockRuns; ++k)
    if (std::abs(e[k + 1].x - e[k].x - module) > module * kRunTolerance) return std::nullopt;

  // Each module's middle: evenly spaced on a scan line; along a path, on a
  // line fitted to the clock's edges near it (seen at an angle or through a
  // lens, the modules change size along the row).
  double centre[kModules], half[kModules];
  for (int k = 0; k < kModules; ++k) {
    double a = e[0].x, b = module;
    if (path_ != nullptr) {
      const int from = std::max(0, k - 3), to = std::min(kClockRuns, k + 4);
      double n = 0, sj = 0, sx = 0, sjj = 0, sjx = 0;
      for (int j = from; j <= to; ++j) {
        n += 1;
        sj += j;
        sx += e[j].x;
        sjj += j * j;
        sjx += j * e[j].x;
      }
      b = (n * sjx - sj * sx) / (n * sjj - sj * sj);
      a = (sx - b * sj) / n;
    }
    centre[k] = a + b * (k + 0.5);
    half[k] = b / 4;
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
  // The border, where its width on the line was not checked (above): dark
  // for a module before the clock and after its last dark module, as dark
  // as the eight clock modules beside it, nearer their dark than a quarter
  // of the way to their light.
  const auto dark_enough = [&](int from) {
    float light_sum = 0, dark_sum = 0;
    for (int k = from; k < from + 8; ++k) (k % 2 == 0 ? light_sum : dark_sum) += level(line_, k);
    return (dark_sum * 3 + light_sum) / 16;
  };
  const double step = centre[1] - centre[0], last_step = centre[kModules - 1] - centre[kModules - 2];
  if (before < module * 0.6 && level_at(line_, centre[0] - step, half[0]) > dark_enough(0)) return std::nullopt;
  if (after < module * 1.4) {
    const float most = dark_enough(kClockRuns - 7);  // modules 60 to 67
    if (level(line_, kModules - 1) > most ||
        level_at(line_, centre[kModules - 1] + last_step, half[kModules - 1]) > most)
      return std::nullopt;
  }
  // The clock's own levels set the threshold for the data row: medians of
  // its light and dark modules, which a halo, a clipped white, noise or a
  // smeared block in a few of them do not move.
  float levels[kClockRuns], lights[kLightRuns], darks[kDarkRuns];
  for (int k = 0; k < kClockRuns; ++k) {
    levels[k] = level(line_, k);
    (k % 2 == 0 ? lights[k / 2] : darks[k / 2]) = levels[k];
  }
  if (level_border) {
    // There, a texture passes for a clock more often: a clock's modules are
    // each lighter or darker than both neighbours, all but a few.
    int out_of_turn = 0;
    for (int k = 1; k + 1 < kClockRuns; ++k)
      if ((k % 2 == 0) != (levels[k] > std::max(levels[k - 1], levels[k + 1])) &&
          (k % 2 != 0) != (levels[k] < std::min(levels[k - 1], levels[k + 1])))
        ++out_of_turn;
    if (out_of_turn > 3) return std::nullopt;
  }
  const float light = Median(lights, kLightRuns), dark = Median(darks, kDarkRuns);
  if (light - dark < kLeastLevels) return std::nullopt;
  // With its halos dropped or along a path, fine texture passes for a clock
  // more often: the strip's dark border a module above it is looked at
  // before the data row, eight of its modules (two may be light: blocks an
  // encoder smeared), where the picture has it.
  if (level_border) {
    int light_above = 0;
    for (int k = 2; k < kModules; k += 9) {
      float above = 0;
      if (path_ == nullptr) {
        if (y - module < 0) continue;
        above = Bilinear(luma, centre[k], y - module);
      } else {
        const int x = static_cast<int>(std::lround(centre[k]));
        if (x < 0 || x >= path_width_ || path_->y(path_x0_ + x) - 1.5 * module < 0) continue;
        SamplePath(luma, *path_, path_across_, -module, 0, below_, x, x);
        above = below_[static_cast<size_t>(x)];
      }
      light_above += above > (light + dark) / 2;
    }
    if (light_above > 2) return std::nullopt;
  }

  // The data row is the next module row: on a scan line, the same place in
  // it as the scan line in the clock's; along a path, a module across it.
  if (path_ != nullptr) {
    // Only the middle of each module, the samples its level is taken from.
    for (int k = 0; k < kModules; ++k) {
      const int from = static_cast<int>(std::floor(centre[k] - half[k]));
      const int to = static_cast<int>(std::ceil(centre[k] + half[k]));
      SamplePath(luma, *path_, path_across_, module, module / 5, below_, from, to);
    }
    below_y_ = -1;
  } else {
    const int data_y = y + static_cast<int>(std::lround(module));
    if (data_y >= luma.height) return std::nullopt;
    if (data_y != below_y_) LoadLine(luma, data_y, below_);  // other clocks on the line may share it
    below_y_ = data_y;
  }
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
      // Means of each level's modules near k less the highest and lowest:
      // one damaged module on either side does not move them, and they
      // need no sort.
      const int from = std::max(0, k - kLocalReach), to = std::min(kClockRuns - 1, k + kLocalReach);
      double sum[2] = {}, low[2] = {1e9, 1e9}, high[2] = {-1e9, -1e9};
      int count[2] = {};
      for (int i = from; i <= to; ++i) {
        const int dark_module = i % 2;
        sum[dark_module] += levels[i];
        low[dark_module] = std::min<double>(low[dark_module], levels[i]);
        high[dark_module] = std::max<double>(high[dark_module], levels[i]);
        ++count[dark_module];
      }
      return std::pair<double, double>((sum[0] - low[0] - high[0]) / (count[0] - 2),
                                       (sum[1] - low[1] - high[1]) / (count[1] - 2));
    });
  }
  if (number) found_x_ = path_x0_ + centre[kModules / 2];
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
  if (smallest_found_ && swing == kSwings[std::size(kSwings) - 1])
    edges_ = smallest_edges_;
  else
    FindEdges(swing);
  if (merged) MergeHalos();
  halos_dropped_ = merged;
  const auto number = ReadEdges(luma, y);
  halos_dropped_ = false;
  return number;
}

// The strip on line_ (loaded or sampled): at each swing, then at the
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
  halos_dropped_ = true;
  const auto number = ReadEdges(luma, y);
  halos_dropped_ = false;
  return number;
}

// The picture along a path from x = path_x0_ on, `across` pixels off it
// (plus `modules` of the path's own along it, for the row below), each
// sample the mean of three `spread` pixels apart across it.
void Reader::SamplePath(const LumaView& luma, const Path& path, double across, double modules, double spread,
                        std::vector<float>& out, int from, int to) const {
  out.resize(static_cast<size_t>(path_width_));
  for (int i = std::max(from, 0); i <= std::min(to, path_width_ - 1); ++i) {
    const double x = path_x0_ + i, slope = path.dy(x), norm = std::sqrt(1 + slope * slope);
    // A module along the path's x is cos(angle) of one across it.
    const double d = across + modules * norm, nx = -slope / norm, ny = 1 / norm;
    const double px = x + d * nx, py = path.y(x) + d * ny;
    out[i] = (Bilinear(luma, px - spread * nx, py - spread * ny) + Bilinear(luma, px, py) +
              Bilinear(luma, px + spread * nx, py + spread * ny)) /
             3;
  }
}

std::optional<uint32_t> Reader::ReadPath(const LumaView& luma, const Path& path) {
  // Where the pieces were, and a few modules either side for the border.
  const double margin = 8 * path.module;
  const int x0 = static_cast<int>(std::clamp(path.first() - margin, 0.0, luma.width - 1.0));
  const int x1 = static_cast<int>(std::clamp(path.last() + margin, 0.0, luma.width - 1.0));
  if (x1 - x0 < kModules * kSmallestModule) return std::nullopt;
  std::optional<uint32_t> number;
  path_ = &path;
  path_x0_ = x0;
  path_width_ = x1 - x0 + 1;
  // On the fitted middle of the clock and a little either side: the pieces
  // a row one module high leaves on scan lines fit it only roughly. A path
  // along which the smallest swing finds not half a clock's edges is none.
  for (const double across : {0.0, -0.25, 0.25}) {
    path_across_ = across * path.module;
    SamplePath(luma, path, path_across_, 0, path.module / 6, line_);
    if (across == 0) {
      FindEdges(kSwings[std::size(kSwings) - 1]);
      if (edges_.size() < kClockRuns / 2) break;
    }
    if ((number = ReadSwings(luma, -1))) break;
  }
  path_ = nullptr;
  path_x0_ = 0;
  if (number) {
    last_path_ = path;
    last_on_path_ = true;
    last_y_ = std::clamp(static_cast<int>(std::lround(path.y(found_x_))), 0, luma.height - 1);
  }
  return number;
}

// A path through `seed` at `angle`, fitted to the pieces of clock of its
// period near it: in each stretch of a few modules along x, the median line
// of the pieces there, which the pieces of other rows do not move.
bool Reader::FitPath(const Fragment& seed, double angle, Path* path) {
  const double period = (seed.x1 - seed.x0) / seed.intervals, xs = (seed.x0 + seed.x1) / 2;
  const double step = std::max(4 * period, 2 * kModules * period * 1.2 / (kMostAnchors - 1));
  const int count = std::min(kMostAnchors, 2 * static_cast<int>(kModules * period * 1.2 / step) + 1);
  const double x0 = xs - (count / 2) * step;  // the anchors' x, the same in every pass
  Path p{x0, step, count, {}, period, std::tan(angle), std::tan(angle)};
  for (int i = 0; i < count; ++i) p.ys[i] = seed.y + (x0 + i * step - xs) * std::tan(angle);
  auto& ys = anchor_ys_;
  for (const double window : {1.0, 0.8, 0.6, 0.6}) {  // the whole clock row, then nearer its middle
    for (auto& v : ys) v.clear();
    const double top = std::min(p.y(x0), p.y(x0 + (count - 1) * step)) - step * std::tan(kMostTurn);
    const double bottom = std::max(p.y(x0), p.y(x0 + (count - 1) * step)) + step * std::tan(kMostTurn);
    auto it = std::lower_bound(fragments_.begin(), fragments_.end(), top - period,
                               [](const Fragment& f, double v) { return f.y < v; });
    for (; it != fragments_.end() && it->y <= bottom + period; ++it) {
      const double gp = (it->x1 - it->x0) / it->intervals;
      if (std::abs(gp - period) > period * kPeriodTolerance) continue;
      // Passed over where both ends and the middle are on one side, clear of the path.
      const double off0 = it->y - p.y(it->x0), off1 = it->y - p.y(it->x1), off2 = it->y - p.y((it->x0 + it->x1) / 2);
      const double clear = window * period;
      if ((off0 > clear && off1 > clear && off2 > clear) || (off0 < -clear && off1 < -clear && off2 < -clear)) continue;
      for (int k = 0; k < it->intervals; ++k) {
        const double x = it->x0 + (k + 0.5) * gp;
        const int i = static_cast<int>(std::lround((x - x0) / step));
        if (i < 0 || i >= count || std::abs(it->y - p.y(x)) > window * period) continue;
        // Where the piece would cross the anchor's x, on the path's slope.
        ys[i].push_back(static_cast<float>(it->y + (x0 + i * step - x) * p.dy(x)));
      }
    }
    double medians[kMostAnchors];
    bool have[kMostAnchors] = {};
    // A quadratic through the medians, weighted by their pieces: those far
    // off it (the ends of a row, where the pieces of other things are as
    // many as its own) are dropped.
    double sum[5] = {}, rhs[3] = {};
    for (int i = 0; i < count; ++i) {
      if (ys[i].size() < 2) continue;
      medians[i] = Median(ys[i].data(), static_cast<int>(ys[i].size()));
      have[i] = true;
      const double u = (i - count / 2) / static_cast<double>(count), w = static_cast<double>(ys[i].size());
      double q = w;
      for (int k = 0; k < 5; ++k, q *= u) {
        sum[k] += q;
        if (k < 3) rhs[k] += q * medians[i];
      }
    }
    double m[3][4] = {
        {sum[0], sum[1], sum[2], rhs[0]}, {sum[1], sum[2], sum[3], rhs[1]}, {sum[2], sum[3], sum[4], rhs[2]}};
    for (int i = 0; i < 3; ++i)
      for (int r = i + 1; r < 3; ++r) {
        if (m[i][i] == 0) return false;
        const double f = m[r][i] / m[i][i];
        for (int q = i; q < 4; ++q) m[r][q] -= f * m[i][q];
      }
    if (m[2][2] != 0) {  // (too few medians for a quadratic: kept as they are)
      const double c2 = m[2][3] / m[2][2], c1 = (m[1][3] - m[1][2] * c2) / m[1][1];
      const double c0 = (m[0][3] - m[0][1] * c1 - m[0][2] * c2) / m[0][0];
      for (int i = 0; i < count; ++i) {
        const double u = (i - count / 2) / static_cast<double>(count);
        if (have[i] && std::abs(medians[i] - (c0 + (c1 + c2 * u) * u)) > 0.4 * period) have[i] = false;
      }
    }
    int first = -1, last = -1;
    for (int i = 0; i < count; ++i) {
      if (!have[i]) continue;
      if (first < 0) first = i;
      last = i;
    }
    // Nor the first and last: at the row's ends only the lines that cross
    // it towards its middle hold pieces of it, so their median is off the
    // row's middle; the path goes on straight there.
    if (first >= 0 && last - first >= 6) {
      have[first] = have[last] = false;
      const int from = first, to = last;
      first = last = -1;
      for (int i = from; i <= to; ++i) {
        if (!have[i]) continue;
        if (first < 0) first = i;
        last = i;
      }
    }
    if (first < 0 || last - first < 2) return false;
    // Stretches with no pieces between others: straight across.
    for (int i = first, prev = first; i <= last; ++i) {
      if (!have[i]) continue;
      for (int j = prev + 1; j < i; ++j)
        medians[j] = medians[prev] + (medians[i] - medians[prev]) * (j - prev) / (i - prev);
      prev = i;
    }
    Path fit{x0 + first * step, step, last - first + 1, {}, period, 0, 0};
    for (int i = 0; i < fit.count; ++i) {
      // Smoothed a little: a lens bends the row gently.
      const int j = first + i;
      const double before = j > first ? medians[j - 1] : medians[j], after = j < last ? medians[j + 1] : medians[j];
      fit.ys[i] = (before + 2 * medians[j] + after) / 4;
    }
    const int ends = std::min(3, fit.count - 1);
    fit.first_slope = (fit.ys[ends] - fit.ys[0]) / (ends * step);
    fit.last_slope = (fit.ys[fit.count - 1] - fit.ys[fit.count - 1 - ends]) / (ends * step);
    for (int i = 0; i + 1 < fit.count; ++i)
      if (std::abs(fit.ys[i + 1] - fit.ys[i]) > 2 * std::tan(kMostTurn) * step) return false;
    p = fit;
  }
  *path = p;
  return true;
}

// Where no scan line crossed a whole clock: the longest pieces of clock as
// seeds, each with the angle most pieces of its period near it line up at,
// and a path fitted through them read like a scan line.
std::optional<uint32_t> Reader::SearchPaths(const LumaView& luma) {
  // A piece on a path already tried (near it, of its period) is of the
  // same row, or grating, and seeds nothing new.
  spent_.assign(fragments_.size(), 0);
  const auto spend = [&](const Path& p) {
    const double top = std::min(p.y(0), p.y(luma.width)) - p.module,
                 bottom = std::max(p.y(0), p.y(luma.width)) + p.module;
    for (size_t i = 0; i < fragments_.size(); ++i) {
      const Fragment& g = fragments_[i];
      if (g.y < top || g.y > bottom) continue;
      const double period = (g.x1 - g.x0) / g.intervals;
      if (std::abs(p.y((g.x0 + g.x1) / 2) - g.y) <= p.module &&
          std::abs(p.module - period) <= period * kPeriodTolerance)
        spent_[i] = 1;
    }
  };
  constexpr double kTurnStep = 2 * kMostTurn / (kTurns - 1);
  for (int s = 0; s < kSeeds; ++s) {
    // The longest piece on no path tried.
    size_t seed = fragments_.size();
    for (size_t i = 0; i < fragments_.size(); ++i)
      if (!spent_[i] && (seed == fragments_.size() || fragments_[i].intervals > fragments_[seed].intervals)) seed = i;
    if (seed == fragments_.size()) break;
    spent_[seed] = 1;
    const Fragment& f = fragments_[seed];
    const double period = (f.x1 - f.x0) / f.intervals, xs = (f.x0 + f.x1) / 2;
    const double reach = kModules * period * 1.2, reach_y = reach * std::tan(kMostTurn) + period;
    double votes[kTurns] = {};
    auto it = std::lower_bound(fragments_.begin(), fragments_.end(), f.y - reach_y,
                               [](const Fragment& g, double v) { return g.y < v; });
    // Each piece's ends and middle: a piece ends where its line leaves the
    // row, so at the right angle all three are on it, a long piece's too.
    // A point votes for the angles of the lines through the seed that pass
    // within 3/4 of a module of it; points near the seed fit every angle and
    // are passed over.
    for (; it != fragments_.end() && it->y <= f.y + reach_y; ++it) {
      const double gp = (it->x1 - it->x0) / it->intervals, dy = it->y - f.y;
      if (std::abs(gp - period) > period * kPeriodTolerance) continue;
      for (const double x : {static_cast<double>(it->x0), (it->x0 + it->x1) / 2.0, static_cast<double>(it->x1)}) {
        const double dx = x - xs, r = std::hypot(dx, dy);
        if (std::abs(dx) > reach || std::abs(dx) < 4 * period) continue;
        const double along = std::atan(dy / dx), half = std::asin(std::min(1.0, period * 0.75 / r));
        const int from = std::max(0, static_cast<int>(std::ceil((along - half + kMostTurn) / kTurnStep)));
        const int to = std::min(kTurns - 1, static_cast<int>(std::floor((along + half + kMostTurn) / kTurnStep)));
        for (int a = from; a <= to; ++a) votes[a] += it->intervals;
      }
    }
    int best = kTurns / 2;  // level, unless another angle has more
    for (int a = 0; a < kTurns; ++a)
      if (votes[a] > votes[best] || (votes[a] == votes[best] && std::abs(a - kTurns / 2) < std::abs(best - kTurns / 2)))
        best = a;
    Path path;
    const double angle = -kMostTurn + best * kTurnStep;
    if (!FitPath(f, angle, &path)) {
      // Not tried again from another piece of the same line.
      const double slope = std::tan(angle);
      spend(Path{xs, 1, 2, {static_cast<double>(f.y), f.y + slope}, period, slope, slope});
      continue;
    }
    spend(path);
    if (const auto number = ReadPath(luma, path)) return number;
  }
  return std::nullopt;
}

std::optional<uint32_t> Reader::Read(const LumaView& luma) {
  if (luma.data == nullptr || luma.width <= 0 || luma.height <= 0 || luma.stride < luma.bytes_per_sample ||
      (luma.bytes_per_sample != 1 && luma.bytes_per_sample != 2 && luma.bytes_per_sample != 4))
    return std::nullopt;
  below_y_ = -1;  // a new picture
  if (last_on_path_) {
    if (const auto number = ReadPath(luma, last_path_)) return number;
  } else if (last_y_ >= 0 && last_y_ < luma.height) {
    LoadLine(luma, last_y_, line_);
    if (const auto number = ReadLine(luma, last_y_, last_swing_, last_merged_)) return number;
  }
  // Every line, each loaded once for every swing: the lines of a 2-pixel
  // module's row are not alike after encoding or scaling, and one of them
  // may be the only one that reads.
  fragments_.clear();
  for (int y = 0; y < luma.height; ++y) {
    LoadLine(luma, y, line_);
    // A smaller swing finds at least the edges a larger one does (less the
    // one or two where the line starts and ends): a line with too few
    // edges for a clock at the smallest has none at any. The pieces of
    // clock it crosses are kept for the paths.
    FindEdges(kSwings[std::size(kSwings) - 1]);
    const bool enough = edges_.size() + 4 >= kClockRuns + 1;
    if (enough) smallest_edges_ = edges_;  // not found again at that swing
    MergeHalos();
    CollectFragments(y);
    if (!enough) continue;
    smallest_found_ = true;
    const auto number = ReadSwings(luma, y);
    smallest_found_ = false;
    if (number) {
      last_y_ = y;
      last_swing_ = swing_;
      last_merged_ = merged_swing_;
      last_on_path_ = false;
      return number;
    }
  }
  return SearchPaths(luma);
}

}  // namespace tallyburn::framecode
