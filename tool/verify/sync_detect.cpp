#include "tool/verify/sync_detect.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sync/mark_shape.h"
#include "sync/marks_layout.h"

namespace tallyburn::tool {
namespace {

using namespace tallyburn::sync;

// A block is a rise when its mean square passes both the floor (about
// -75 dBFS, well under the quietest mark TallySync makes) and ten times
// the sound before it.
constexpr double kFloor = 3e-8;
constexpr double kRise = 10;
constexpr int kBackgroundBlocks = 12;  // the background: these blocks, ending
constexpr int kBackgroundGap = 8;      // this many before the rise
// The onset is near the first block within 10 dB of the mark's loudest,
// in the 50 ms after the rise: codecs' pre-echo, quieter, comes first.
constexpr double kPeakSeconds = 0.050;
constexpr double kNearPeak = 0.1;
// The sweep is looked for this far around that block: after it as far as
// atempo (WSOLA) moves it, for the stretch overlaps a piece of the tone
// ahead of the sweep (found 11 ms early at 0.2%), and before it as far as
// a codec's pre-echo. A mark's start may lie before the sound's first
// sample (Opus's pre-skip, rounded to a container's millisecond, takes
// it): the sweep's rest still times it.
constexpr double kSearchBefore = kMarkStartsBefore, kSearchAfter = 0.030;
// A mark is read when its sweep matches this well and its pitch stands
// 10 dB above every other pitch.
constexpr double kMinMatch = 0.5;
constexpr double kMinPitchRatio = 10;
constexpr double kToneFrom = kSweepSeconds + 0.001, kToneLength = kToneSeconds - 0.002;

}  // namespace

MarkDetector::MarkDetector(int rate) : rate_(std::max(1, rate)), block_(std::max(1, rate_ / 1000)) {
  const int n = std::max(1, static_cast<int>(std::lround(kSweepSeconds * rate_)));
  sweep_re_.resize(n);
  sweep_im_.resize(n);
  double energy = 0;
  for (int i = 0; i < n; ++i) {
    const double t = double(i) / rate_;
    const double e = MarkEnvelope(t), phase = MarkPhase(t, 0);
    sweep_re_[i] = static_cast<float>(e * std::cos(phase));
    sweep_im_[i] = static_cast<float>(e * std::sin(phase));
    energy += e * e;
  }
  sweep_norm_ = std::sqrt(energy);
  mark_samples_ = static_cast<int>(std::ceil(kMarkSeconds * rate_));
  search_before_ = static_cast<int>(std::ceil(kSearchBefore * rate_));
  search_after_ = static_cast<int>(std::ceil(kSearchAfter * rate_));
}

float MarkDetector::At(int64_t n) const noexcept {
  const int64_t i = n - held_from_;
  return i >= 0 && i < static_cast<int64_t>(held_.size()) ? held_[static_cast<size_t>(i)] : 0.0f;
}

void MarkDetector::Mono(float sample) {
  if (!std::isfinite(sample)) sample = 0;
  held_.push_back(sample);
  ++pushed_;
  block_sum_ += double(sample) * sample;
  if (++block_fill_ == block_) {
    blocks_.push_back(block_sum_ / block_);
    block_sum_ = 0;
    block_fill_ = 0;
  }
}

void MarkDetector::Push(const float* interleaved, size_t frames, int channels) {
  if (channels < 1) return;
  const float scale = 1.0f / channels;
  for (size_t f = 0; f < frames; ++f) {
    float sum = 0;
    for (int c = 0; c < channels; ++c) sum += interleaved[f * channels + c];
    Mono(sum * scale);
  }
  Scan(false);
}

std::vector<FoundMark> MarkDetector::Finish() {
  if (block_fill_ > 0) {
    blocks_.push_back(block_sum_ / block_);
    block_sum_ = 0;
    block_fill_ = 0;
  }
  Scan(true);
  return std::move(marks_);
}

void MarkDetector::Scan(bool ending) {
  const int64_t peak_blocks = static_cast<int64_t>(std::ceil(kPeakSeconds * rate_ / block_));
  const int64_t lookahead = peak_blocks * block_ + search_after_ + mark_samples_ + 1;
  const int64_t blocks_end = blocks_from_ + static_cast<int64_t>(blocks_.size());
  auto energy = [&](int64_t b) {
    return b >= blocks_from_ && b < blocks_end ? blocks_[static_cast<size_t>(b - blocks_from_)] : 0.0;
  };
  for (; next_block_ < blocks_end; ++next_block_) {
    const int64_t b = next_block_;
    const int64_t start = b * block_;
    if (start < quiet_until_) continue;
    const double e = energy(b);
    if (e <= kFloor) continue;
    double background = 0;
    for (int64_t k = b - kBackgroundGap - kBackgroundBlocks; k < b - kBackgroundGap; ++k) background += energy(k);
    background /= kBackgroundBlocks;
    if (e <= kRise * background) continue;
    if (!ending && start + lookahead > pushed_) break;  // wait for the rest of the mark
    double peak = 0;
    for (int64_t k = b; k < b + peak_blocks; ++k) peak = std::max(peak, energy(k));
    int64_t near = b;
    while (energy(near) < kNearPeak * peak) ++near;
    Measure(near * block_);
  }
  // Keep what the background and the next search reach back to.
  const int64_t keep_block = std::max<int64_t>(0, next_block_ - kBackgroundGap - kBackgroundBlocks - 1);
  if (keep_block - blocks_from_ > 4096) {
    blocks_.erase(blocks_.begin(), blocks_.begin() + (keep_block - blocks_from_));
    blocks_from_ = keep_block;
  }
  const int64_t keep = std::max<int64_t>(0, keep_block * block_ - search_before_);
  if (keep - held_from_ > 65536) {
    held_.erase(held_.begin(), held_.begin() + (keep - held_from_));
    held_from_ = keep;
  }
}

void MarkDetector::Measure(int64_t near) {
  const int n = static_cast<int>(sweep_re_.size());
  const int64_t from = near - search_before_, to = near + search_after_;
  const int64_t lags = to - from + 1;
  // |correlation| at each lag, kept for the interpolation at the peak.
  double best = -1;
  int64_t best_lag = from;
  double before = 0, at = 0, after = 0;
  double last = 0;
  for (int64_t k = 0; k < lags; ++k) {
    const int64_t lag = from + k;
    const int64_t i0 = lag - held_from_;
    double re = 0, im = 0;
    if (i0 >= 0 && i0 + n <= static_cast<int64_t>(held_.size())) {
      const float* x = held_.data() + i0;
      for (int i = 0; i < n; ++i) {
        re += double(x[i]) * sweep_re_[i];
        im += double(x[i]) * sweep_im_[i];
      }
    } else {
      for (int i = 0; i < n; ++i) {
        const double x = At(lag + i);
        re += x * sweep_re_[i];
        im += x * sweep_im_[i];
      }
    }
    const double magnitude = std::sqrt(re * re + im * im);
    if (magnitude > best) {
      best = magnitude;
      best_lag = lag;
      before = last;
      at = magnitude;
      after = -1;  // filled by the next lag
    } else if (after < 0 && lag == best_lag + 1) {
      after = magnitude;
    }
    last = magnitude;
  }
  if (after < 0) after = 0;
  // The peak between samples: the parabola through it and its neighbours.
  double shift = 0;
  const double curve = before - 2 * at + after;
  if (best_lag > from && curve < 0) shift = std::clamp(0.5 * (before - after) / curve, -0.5, 0.5);
  double window = 0;
  for (int i = 0; i < n; ++i) window += double(At(best_lag + i)) * At(best_lag + i);
  FoundMark mark;
  mark.time = (double(best_lag) + shift) / rate_;
  mark.match = window > 0 ? std::min(1.0, std::sqrt(2.0) * at / (sweep_norm_ * std::sqrt(window))) : 0;
  const double amplitude = 2 * at / (sweep_norm_ * sweep_norm_);
  mark.level = amplitude > 0 ? 20 * std::log10(amplitude) : -200;
  // The pitch: Hann-windowed Goertzel filters over the tone.
  const int64_t tone_from = best_lag + std::lround(kToneFrom * rate_);
  const int tone_n = std::max(2, static_cast<int>(std::lround(kToneLength * rate_)));
  double power[kPitchCount];
  for (int p = 0; p < kPitchCount; ++p) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * kPitches[p] / rate_);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < tone_n; ++i) {
      const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / (tone_n - 1));
      const double s0 = w * At(tone_from + i) + coefficient * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    power[p] = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
  }
  int top = 0;
  for (int p = 1; p < kPitchCount; ++p)
    if (power[p] > power[top]) top = p;
  double second = 0;
  for (int p = 0; p < kPitchCount; ++p)
    if (p != top) second = std::max(second, power[p]);
  const bool readable = mark.match >= kMinMatch && power[top] > 0 && power[top] >= kMinPitchRatio * second;
  mark.pitch = readable ? top : -1;
  marks_.push_back(mark);
  // The rest of this mark, and its codec's tail, is not another.
  quiet_until_ = best_lag + mark_samples_ + 10 * block_;
}

std::vector<FoundMark> FindMarks(const float* interleaved, size_t frames, int channels, int rate) {
  MarkDetector detector(rate);
  detector.Push(interleaved, frames, channels);
  return detector.Finish();
}

}  // namespace tallyburn::tool
