#include "framecode/reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "framecode/codec.h"

namespace tallyburn::framecode {
namespace {

// Between the dark and light levels in limited range (0.28 and 0.71 of full
// scale at 8 bits) and in full range (0.25 and 0.75).
constexpr float kMiddle = 0.49f;
// The smallest module read: half of scale 1's 8 pixels, less a little.
constexpr double kSmallestModule = 3.5;
// A clock module may measure this much off the mean, for blur and rounding.
constexpr double kRunTolerance = 0.45;

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
        out[x] = std::isfinite(v) ? v : 0.0f;
      }
  }
}

std::optional<uint32_t> Reader::ReadLine(const LumaView& luma, int y) {
  LoadLine(luma, y, line_);
  runs_.clear();
  for (int x = 0; x < luma.width; ++x) {
    const bool light = line_[x] > kMiddle;
    if (runs_.empty() || runs_.back().light != light)
      runs_.push_back({x, 1, light});
    else
      ++runs_.back().length;
  }
  constexpr int kClockRuns = kModules - 1;  // the last clock module runs into the border
  for (size_t i = 1; i + kClockRuns < runs_.size(); ++i) {
    if (!runs_[i].light) continue;
    const Run& first = runs_[i];
    const Run& end = runs_[i + kClockRuns];  // module 67 and the border, dark
    const double module = static_cast<double>(end.start - first.start) / kClockRuns;
    if (module < kSmallestModule || runs_[i - 1].length < module * 0.6 || end.length < module * 1.4) continue;
    bool even = true;
    for (int k = 0; k < kClockRuns && even; ++k)
      even = std::abs(runs_[i + k].length - module) <= module * kRunTolerance;
    if (!even) continue;

    // The clock's own levels set the threshold for the data row.
    double light_sum = 0, dark_sum = 0;
    for (int k = 0; k < kClockRuns; ++k) {
      const Run& r = runs_[i + k];
      (r.light ? light_sum : dark_sum) += line_[r.start + r.length / 2];
    }
    constexpr int kLightRuns = (kClockRuns + 1) / 2, kDarkRuns = kClockRuns / 2;  // 34 and 33
    const double threshold = (light_sum / kLightRuns + dark_sum / kDarkRuns) / 2;

    // The data row is the next module row: the same place in it as the scan
    // line in the clock's; each module read as the mean of its middle half.
    const int data_y = y + static_cast<int>(std::lround(module));
    if (data_y >= luma.height) continue;
    LoadLine(luma, data_y, below_);
    DataRow row;
    const double half = std::max(1.0, module / 4);
    for (int k = 0; k < kModules; ++k) {
      const double centre = first.start + (k + 0.5) * module;
      const int from = std::max(0, static_cast<int>(centre - half));
      const int to = std::min(luma.width - 1, static_cast<int>(centre + half));
      double sum = 0;
      for (int x = from; x <= to; ++x) sum += below_[x];
      row[k] = sum / (to - from + 1) > threshold;
    }
    if (const std::optional<uint32_t> number = Decode(row)) return number;
  }
  return std::nullopt;
}

std::optional<uint32_t> Reader::Read(const LumaView& luma) {
  if (luma.data == nullptr || luma.width <= 0 || luma.height <= 0 || luma.stride < luma.bytes_per_sample ||
      (luma.bytes_per_sample != 1 && luma.bytes_per_sample != 2 && luma.bytes_per_sample != 4))
    return std::nullopt;
  if (last_y_ >= 0 && last_y_ < luma.height)
    if (const auto number = ReadLine(luma, last_y_)) return number;
  // Every other line: a module of half scale is still 4 lines high.
  for (int y = 1; y < luma.height; y += 2) {
    if (const auto number = ReadLine(luma, y)) {
      last_y_ = y;
      return number;
    }
  }
  return std::nullopt;
}

}  // namespace tallyburn::framecode
