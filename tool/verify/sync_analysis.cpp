#include "tool/verify/sync_analysis.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "sync/marks_layout.h"

namespace tallyburn::tool {
namespace {

using Status = SyncEntry::Status;
constexpr int kTable = sync::kPitchCount;

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  return values[mid];
}

// The frames read, by number: the time each number was first shown, and
// the time of any number between or beyond them, from a frame's duration.
class Timeline {
 public:
  explicit Timeline(const std::vector<FrameTime>& frames) {
    for (const FrameTime& f : frames) first_.emplace(f.number, f.time);  // keeps the first showing
    std::vector<double> steps;
    for (auto it = first_.begin(); it != first_.end() && std::next(it) != first_.end(); ++it) {
      const auto next = std::next(it);
      const double step = (next->second - it->second) / double(next->first - it->first);
      if (step > 0) steps.push_back(step);
    }
    frame_ = Median(std::move(steps));
    by_time_.reserve(first_.size());
    for (const auto& [number, time] : first_) by_time_.emplace_back(time, number);
    std::sort(by_time_.begin(), by_time_.end());
  }
  bool empty() const { return first_.empty() || frame_ <= 0; }
  double frame() const { return frame_; }
  uint32_t lowest() const { return first_.begin()->first; }
  uint32_t highest() const { return first_.rbegin()->first; }
  std::optional<double> Shown(int64_t number) const {
    if (number < 0 || number > UINT32_MAX) return std::nullopt;
    const auto it = first_.find(static_cast<uint32_t>(number));
    if (it == first_.end()) return std::nullopt;
    return it->second;
  }
  // When number was (or would have been) shown.
  double TimeOf(double number) const {
    auto after = first_.lower_bound(number < 0 ? 0 : static_cast<uint32_t>(std::min<double>(number, UINT32_MAX)));
    if (after == first_.end()) --after;
    return after->second + (number - after->first) * frame_;
  }
  // The number shown at time t, as a fraction.
  double NumberAt(double t) const {
    auto it = std::lower_bound(by_time_.begin(), by_time_.end(), std::make_pair(t, uint32_t{0}));
    if (it == by_time_.end()) --it;
    if (it != by_time_.begin() && t - std::prev(it)->first < it->first - t) --it;
    return it->second + (t - it->first) / frame_;
  }

 private:
  std::map<uint32_t, double> first_;
  std::vector<std::pair<double, uint32_t>> by_time_;
  double frame_ = 0;
};

// The period in frames, from marks next to each other in the table.
int64_t PeriodFromMarks(const std::vector<FoundMark>& marks, double frame) {
  std::vector<double> spacing;
  const FoundMark* last = nullptr;
  for (const FoundMark& m : marks) {
    if (m.pitch < 0) continue;
    if (last != nullptr && m.pitch == (last->pitch + 1) % kTable) spacing.push_back(m.time - last->time);
    last = &m;
  }
  if (spacing.empty() || frame <= 0) return 0;
  return std::max<int64_t>(1, std::llround(Median(std::move(spacing)) / frame));
}

}  // namespace

SyncReport AnalyseSync(const std::vector<FoundMark>& marks, const std::vector<FrameTime>& frames,
                       const SyncOptions& options) {
  SyncReport report;
  const Timeline video(frames);
  report.frame_seconds = video.empty() ? 0 : video.frame();
  report.period_frames = options.period_frames > 0 ? options.period_frames : PeriodFromMarks(marks, video.frame());
  const int64_t period = report.period_frames;
  const double first = options.first_number;
  const bool pairs = !video.empty() && period > 0;

  // Each readable mark to the count of its pitch nearest in time.
  std::map<int64_t, size_t> taken;  // count -> entry
  for (const FoundMark& m : marks) {
    SyncEntry e;
    e.sound_time = m.time + options.sound_start;
    e.pitch = m.pitch;
    e.match = m.match;
    if (m.pitch < 0) {
      e.status = Status::kUnreadable;
    } else if (!pairs) {
      e.status = Status::kExtra;
    } else {
      const double t = *e.sound_time;
      const double count = (video.NumberAt(t) - first) / double(period);
      const int64_t near = m.pitch + kTable * std::llround((count - m.pitch) / kTable);
      int64_t best = near;
      double best_gap = INFINITY;
      for (const int64_t c : {near - kTable, near, near + kTable}) {
        const double gap = std::abs(video.TimeOf(first + double(c) * double(period)) - t);
        if (gap < best_gap) best_gap = gap, best = c;
      }
      e.mark = best;
      const int64_t number = static_cast<int64_t>(first) + best * period;
      if (best < 0 || number < video.lowest() || number > video.highest()) {
        e.status = Status::kExtra;
      } else {
        e.number = static_cast<uint32_t>(number);
        e.frame_time = video.Shown(number);
        if (!e.frame_time) {
          e.status = Status::kNoFrame;
          taken.emplace(best, report.entries.size());  // found: not missing
        } else {
          e.offset_ms = (t - *e.frame_time) * 1000;
          const auto [it, fresh] = taken.emplace(best, report.entries.size());
          if (!fresh) {
            SyncEntry& other = report.entries[it->second];
            if (std::abs(*e.offset_ms) < std::abs(*other.offset_ms)) {
              other.status = Status::kExtra;
              it->second = report.entries.size();
            } else {
              e.status = Status::kExtra;
            }
          }
        }
      }
    }
    report.entries.push_back(e);
  }

  // The marks the frames read call for that were not found.
  if (pairs) {
    const int64_t from = std::max<int64_t>(0, static_cast<int64_t>(std::ceil((video.lowest() - first) / period)));
    const int64_t to = static_cast<int64_t>(std::floor((video.highest() - first) / period));
    for (int64_t c = from; c <= to; ++c) {
      if (taken.count(c) != 0) continue;
      SyncEntry e;
      e.status = Status::kMissing;
      e.mark = c;
      e.number = static_cast<uint32_t>(first + double(c * period));
      e.frame_time = video.Shown(*e.number);
      report.entries.push_back(e);
    }
  }
  auto when = [](const SyncEntry& e) { return e.sound_time ? *e.sound_time : e.frame_time ? *e.frame_time : 0.0; };
  std::stable_sort(report.entries.begin(), report.entries.end(),
                   [&](const SyncEntry& a, const SyncEntry& b) { return when(a) < when(b); });

  // Offsets and their line.
  double sum = 0, st = 0, so = 0, stt = 0, sto = 0;
  for (const SyncEntry& e : report.entries) {
    switch (e.status) {
      case Status::kMeasured: break;
      case Status::kMissing: ++report.missing; continue;
      case Status::kExtra: ++report.extra; continue;
      case Status::kUnreadable: ++report.unreadable; continue;
      case Status::kNoFrame: ++report.no_frame; continue;
    }
    ++report.measured;
    const double o = *e.offset_ms, t = *e.frame_time / 60;
    sum += o;
    report.min_ms = report.min_ms ? std::min(*report.min_ms, o) : o;
    report.max_ms = report.max_ms ? std::max(*report.max_ms, o) : o;
    st += t, so += o, stt += t * t, sto += t * o;
  }
  if (report.measured > 0) {
    const double n = report.measured;
    report.mean_ms = sum / n;
    const double spread = stt - st * st / n;
    if (report.measured >= 2 && spread > 1e-12) report.drift_ms_per_minute = (sto - st * so / n) / spread;
    const double period_ms = double(period) * report.frame_seconds * 1000;
    if (period_ms > 0) report.whole_periods = std::llround(*report.mean_ms / period_ms);
  }
  return report;
}

SyncReport MeasureSync(const float* interleaved, size_t frames, int channels, int rate,
                       const std::vector<FrameTime>& video, const SyncOptions& options) {
  return AnalyseSync(FindMarks(interleaved, frames, channels, rate), video, options);
}

}  // namespace tallyburn::tool
