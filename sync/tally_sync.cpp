#include "sync/tally_sync.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sync/mark_shape.h"
#include "sync/marks_layout.h"

namespace tallyburn::sync {
namespace {

using Wide = unsigned __int128;

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

SyncPlanResult Refuse(std::string message) { return {std::nullopt, "TallySync: " + std::move(message)}; }

// The mark that sample n (0 or more) falls after: the largest m whose
// first sample, SampleOfFrame(m*P), is at or before n.
int64_t MarkAtOrBefore(const SyncPlan& p, int64_t n) noexcept {
  const Wide top = Wide(uint64_t(n)) * p.fps_num;
  const Wide bottom = Wide(uint64_t(p.period_frames)) * p.fps_den * uint64_t(p.rate);
  return static_cast<int64_t>(top / bottom);
}

}  // namespace

int BytesPerSample(SampleType type) noexcept {
  switch (type) {
    case SampleType::kInt8: return 1;
    case SampleType::kInt16: return 2;
    case SampleType::kInt24: return 3;
    case SampleType::kInt32:
    case SampleType::kFloat: return 4;
  }
  return 4;
}

int64_t SampleOfFrame(const SyncPlan& p, int64_t frame) noexcept {
  const Wide top = Wide(uint64_t(frame)) * p.fps_den * uint64_t(p.rate);
  return static_cast<int64_t>((top + p.fps_num - 1) / p.fps_num);
}

SyncPlanResult PlanSync(const SyncRequest& r) {
  if (r.fps_num == 0 || r.fps_den == 0) return Refuse("the clip has no frame rate; the marks follow its frames");
  if (r.num_frames <= 0) return Refuse("the clip has no frames; the marks follow its frames");
  const bool new_sound = r.rate == 0;
  const int rate = new_sound ? kDefaultRate : r.rate;
  const int channels = new_sound ? kDefaultChannels : r.channels;
  if (rate < kMinRate || rate > kMaxRate)
    return Refuse("the clip's sound is at " + std::to_string(r.rate) + " Hz; the marks need " +
                  std::to_string(kMinRate) + " to " + std::to_string(kMaxRate) + " Hz (resample it first)");
  if (channels < 1 || channels > kMaxChannels)
    return Refuse("the clip's sound has " + std::to_string(channels) + " channels; the marks need 1 to " +
                  std::to_string(kMaxChannels));
  if (!new_sound && r.samples < 0) return Refuse("the clip's sound has a negative length");
  if (!std::isfinite(r.period) || r.period <= 0 || r.period > 3600)
    return Refuse("period must be more than 0 and at most 3600 seconds, not " + Number(r.period));
  const double fps = double(r.fps_num) / r.fps_den;
  const int64_t period_frames = std::max<int64_t>(1, std::llround(r.period * fps));
  const double period_seconds = double(period_frames) / fps;
  if (period_seconds < kMinPeriodSeconds)
    return Refuse("period " + Number(r.period) + " is " + std::to_string(period_frames) + " frame" +
                  (period_frames == 1 ? "" : "s") + " (" + Number(period_seconds * 1000) +
                  " ms) at the clip's rate; marks need at least " + Number(kMinPeriodSeconds * 1000) +
                  " ms apart (a mark and as long in silence)");
  if (!std::isfinite(r.level) || r.level < kMinLevel || r.level > kMaxLevel)
    return Refuse("level must be " + Number(kMinLevel) + " to " + Number(kMaxLevel) + " dBFS, not " + Number(r.level));
  SyncPlan plan;
  plan.fps_num = r.fps_num;
  plan.fps_den = r.fps_den;
  plan.num_frames = r.num_frames;
  plan.rate = rate;
  plan.channels = channels;
  plan.period_frames = period_frames;
  plan.amplitude = std::pow(10.0, r.level / 20);
  plan.new_sound = new_sound;
  plan.samples = new_sound ? SampleOfFrame(plan, r.num_frames) : r.samples;
  return {plan, {}};
}

MarkGenerator::MarkGenerator(const SyncPlan& plan)
    : plan_(plan), mark_samples_(static_cast<int>(std::ceil(kMarkSeconds * plan.rate))) {
  marks_.resize(static_cast<size_t>(kPitchCount) * mark_samples_);
  for (int pitch = 0; pitch < kPitchCount; ++pitch)
    for (int i = 0; i < mark_samples_; ++i)
      marks_[static_cast<size_t>(pitch) * mark_samples_ + i] =
          static_cast<float>(plan.amplitude * MarkSample(double(i) / plan.rate, pitch));
}

// Walks [start, start + count) as runs of silence and of marks; write(out
// sample index, value or nullptr for silence, length) fills one run.
template <typename Writer>
void MarkGenerator::FillWith(Writer write, int64_t start, int64_t count) const noexcept {
  const int64_t end = start + count;
  int64_t at = start;
  if (at < 0) {
    const int64_t to = std::min<int64_t>(end, 0);
    write(at - start, nullptr, to - at);
    at = to;
  }
  const int64_t last_frame = plan_.num_frames - 1;
  while (at < end) {
    const int64_t sound_end = std::min(end, plan_.samples);
    if (at >= sound_end) {
      write(at - start, nullptr, end - at);
      break;
    }
    const int64_t mark = MarkAtOrBefore(plan_, at);
    const int64_t frame = mark * plan_.period_frames;
    if (frame > last_frame) {
      write(at - start, nullptr, sound_end - at);
      at = sound_end;
      continue;
    }
    const int64_t first = SampleOfFrame(plan_, frame);
    const int64_t into = at - first;
    if (into < mark_samples_) {
      const int64_t n = std::min<int64_t>(mark_samples_ - into, sound_end - at);
      write(at - start, &marks_[static_cast<size_t>(mark % kPitchCount) * mark_samples_ + into], n);
      at += n;
    } else {
      const int64_t next = SampleOfFrame(plan_, frame + plan_.period_frames);
      const int64_t to = std::min(next, sound_end);
      write(at - start, nullptr, to - at);
      at = to;
    }
  }
}

namespace {

template <typename T, typename Convert>
auto Writer(void* buffer, int channels, Convert convert) {
  return [out = static_cast<T*>(buffer), channels, convert](int64_t index, const float* values, int64_t n) {
    T* o = out + index * channels;
    const T zero = convert(0.0f);
    for (int64_t i = 0; i < n; ++i) {
      const T v = values == nullptr ? zero : convert(values[i]);
      for (int c = 0; c < channels; ++c) *o++ = v;
    }
  };
}

// Rounded to the nearest step; the marks' peak is at most full scale, so
// the largest value is the top code.
template <typename T>
T Scaled(float v, double top) noexcept {
  return static_cast<T>(std::lrint(double(v) * top));
}

struct Int24 {  // little-endian, as hosts lay out 24-bit samples
  uint8_t bytes[3];
};
static_assert(sizeof(Int24) == 3);

}  // namespace

void MarkGenerator::Fill(void* buffer, int64_t start, int64_t count, SampleType type) const noexcept {
  FillChannels(buffer, start, count, type, plan_.channels);
}

void MarkGenerator::FillPlane(void* buffer, int64_t start, int64_t count, SampleType type) const noexcept {
  FillChannels(buffer, start, count, type, 1);
}

void MarkGenerator::FillChannels(void* buffer, int64_t start, int64_t count, SampleType type, int ch) const noexcept {
  if (count <= 0) return;
  switch (type) {
    case SampleType::kInt8:
      FillWith(Writer<uint8_t>(buffer, ch, [](float v) { return uint8_t(128 + Scaled<int>(v, 127)); }), start, count);
      break;
    case SampleType::kInt16:
      FillWith(Writer<int16_t>(buffer, ch, [](float v) { return Scaled<int16_t>(v, 32767); }), start, count);
      break;
    case SampleType::kInt24:
      FillWith(Writer<Int24>(buffer, ch,
                             [](float v) {
                               const auto u = static_cast<uint32_t>(Scaled<int32_t>(v, 8388607));
                               return Int24{{uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16)}};
                             }),
               start, count);
      break;
    case SampleType::kInt32:
      FillWith(Writer<int32_t>(buffer, ch, [](float v) { return Scaled<int32_t>(v, 2147483647.0); }), start, count);
      break;
    case SampleType::kFloat: FillWith(Writer<float>(buffer, ch, [](float v) { return v; }), start, count); break;
  }
}

}  // namespace tallyburn::sync
