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
        edges_.push_back({static_cast<float>(x - 1) + (mid - v[x - 1]) / (v[x] - v[x - 1]), rising});
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

// The strip whose clock starts at edge `first`, if there is one there.
std::optional<uint32_t> Reader::ReadClock(const LumaView& luma, int y, size_t first) {
  const Edge* e = edges_.data() + first;
  const double module = static_cast<double>(e[kClockRuns].x - e[0].x) / kClockRuns;
  const double before = first > 0 ? e[0].x - e[-1].x : e[0].x;
  const double after = (first + kClockRuns + 1 < edges_.size() ? e[kClockRuns + 1].x : luma.width) - e[kClockRuns].x;
  if (module < kSmallestModule || before < module * 0.6 || after < module * 1.4) return std::nullopt;
  for (int k = 0; k < kClockRuns; ++k)
    if (std::abs(e[k + 1].x - e[k].x - module) > module * kRunTolerance) return std::nullopt;

  // Module k's level on a line: the mean of its middle half.
  const double half = module / 4;
  const auto level = [&](const std::vector<float>& line, int k) {
    const double centre = e[0].x + (k + 0.5) * module;
    int from = static_cast<int>(std::ceil(centre - half)), to = static_cast<int>(std::floor(centre + half));
    if (from > to) from = to = static_cast<int>(std::lround(centre));
    from = std::max(from, 0);
    to = std::min(to, luma.width - 1);
    if (from > to) return 0.0;
    double sum = 0;
    for (int x = from; x <= to; ++x) sum += line[x];
    return sum / (to - from + 1);
  };
  // The clock's own levels set the threshold for the data row.
  double light = 0, dark = 0;
  for (int k = 0; k < kClockRuns; ++k) (k % 2 == 0 ? light : dark) += level(line_, k);
  constexpr int kLightRuns = (kClockRuns + 1) / 2, kDarkRuns = kClockRuns / 2;  // 34 and 33
  light /= kLightRuns;
  dark /= kDarkRuns;
  if (light - dark < kLeastLevels) return std::nullopt;
  const double threshold = (light + dark) / 2, half_contrast = (light - dark) / 2;

  // The data row is the next module row: the same place in it as the scan
  // line in the clock's.
  const int data_y = y + static_cast<int>(std::lround(module));
  if (data_y >= luma.height) return std::nullopt;
  LoadLine(luma, data_y, below_);
  DataRow row;
  double doubt[kModules];
  int doubtful[kMaxDoubtful];
  int count = 0;
  for (int k = 0; k < kModules; ++k) {
    const double v = level(below_, k);
    row[k] = v > threshold;
    doubt[k] = std::abs(v - threshold) / half_contrast;
    // The most doubtful modules, kept in order, least sure first.
    if (doubt[k] >= kDoubtful || (count == kMaxDoubtful && doubt[k] >= doubt[doubtful[count - 1]])) continue;
    int at = std::min(count, kMaxDoubtful - 1);
    count = std::min(count + 1, kMaxDoubtful);
    for (; at > 0 && doubt[doubtful[at - 1]] > doubt[k]; --at) doubtful[at] = doubtful[at - 1];
    doubtful[at] = k;
  }
  return Recover(row, doubtful, count);
}

std::optional<uint32_t> Reader::ReadLine(const LumaView& luma, int y, float swing) {
  FindEdges(swing);
  for (size_t i = 0; i + kClockRuns < edges_.size(); ++i)
    if (edges_[i].rising)
      if (const auto number = ReadClock(luma, y, i)) return number;
  return std::nullopt;
}

std::optional<uint32_t> Reader::Read(const LumaView& luma) {
  if (luma.data == nullptr || luma.width <= 0 || luma.height <= 0 || luma.stride < luma.bytes_per_sample ||
      (luma.bytes_per_sample != 1 && luma.bytes_per_sample != 2 && luma.bytes_per_sample != 4))
    return std::nullopt;
  if (last_y_ >= 0 && last_y_ < luma.height) {
    LoadLine(luma, last_y_, line_);
    if (const auto number = ReadLine(luma, last_y_, last_swing_)) return number;
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
    for (const float swing : kSwings) {
      if (const auto number = ReadLine(luma, y, swing)) {
        last_y_ = y;
        last_swing_ = swing;
        return number;
      }
    }
  }
  return std::nullopt;
}

}  // namespace tallyburn::framecode
