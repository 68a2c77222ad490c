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

// Where the marks belong: the frames read, by number, and the marks'
// spacing from the clip's frame 0.
struct Grid {
  const Timeline& video;
  int64_t period;  // frames; 0: none known
  double first;    // the number TallyId gave the clip's frame 0
  bool pairs() const { return !video.empty() && period > 0; }
};

// The count of the mark of this pitch nearest in time to t: of the counts
// with the pitch, the one whose frame is nearest.
int64_t NearestCount(int pitch, double t, const Grid& grid) {
  const double count = (grid.video.NumberAt(t) - grid.first) / double(grid.period);
  const int64_t near = pitch + kTable * std::llround((count - pitch) / kTable);
  int64_t best = near;
  double best_gap = INFINITY;
  for (const int64_t c : {near - kTable, near, near + kTable}) {
    const double gap = std::abs(grid.video.TimeOf(grid.first + double(c) * double(grid.period)) - t);
    if (gap < best_gap) best_gap = gap, best = c;
  }
  return best;
}

// Each mark found as an entry, paired with the frame of its count where
// that was read; of two marks with one count, the one nearer its frame is
// kept and the other is extra. `taken`: each count found, by its entry.
std::vector<SyncEntry> PairMarks(const std::vector<FoundMark>& marks, const Grid& grid, double sound_start,
                                 std::map<int64_t, size_t>& taken) {
  std::vector<SyncEntry> entries;
  for (const FoundMark& m : marks) {
    SyncEntry e;
    e.sound_time = m.time + sound_start;
    e.pitch = m.pitch;
    e.match = m.match;
    if (m.pitch < 0) {
      e.status = Status::kUnreadable;
    } else if (!grid.pairs()) {
      e.status = Status::kExtra;
    } else {
      const double t = *e.sound_time;
      const int64_t best = NearestCount(m.pitch, t, grid);
      e.mark = best;
      const int64_t number = static_cast<int64_t>(grid.first) + best * grid.period;
      if (best < 0 || number < grid.video.lowest() || number > grid.video.highest()) {
        e.status = Status::kExtra;
      } else {
        e.number = static_cast<uint32_t>(number);
        e.frame_time = grid.video.Shown(number);
        if (!e.frame_time) {
          e.status = Status::kNoFrame;
          taken.emplace(best, entries.size());  // found: not missing
        } else {
          e.offset_ms = (t - *e.frame_time) * 1000;
          const auto [it, fresh] = taken.emplace(best, entries.size());
          if (!fresh) {
            SyncEntry& other = entries[it->second];
            if (std::abs(*e.offset_ms) < std::abs(*other.offset_ms)) {
              other.status = Status::kExtra;
              it->second = entries.size();
            } else {
              e.status = Status::kExtra;
            }
          }
        }
      }
    }
    entries.push_back(e);
  }
  return entries;
}

// The marks the frames read call for that were not found.
void AddMissing(const Grid& grid, const std::map<int64_t, size_t>& taken, std::vector<SyncEntry>& entries) {
  const Timeline& video = grid.video;
  const double first = grid.first;
  const int64_t period = grid.period;
  const int64_t from = std::max<int64_t>(0, static_cast<int64_t>(std::ceil((video.lowest() - first) / period)));
  const int64_t to = static_cast<int64_t>(std::floor((video.highest() - first) / period));
  for (int64_t c = from; c <= to; ++c) {
    if (taken.count(c) != 0) continue;
    SyncEntry e;
    e.status = Status::kMissing;
    e.mark = c;
    e.number = static_cast<uint32_t>(first + double(c * period));
    e.frame_time = video.Shown(*e.number);
    entries.push_back(e);
  }
}

// The entries in the order of their times: the sound's, or the frame's for a missing mark.
void SortByTime(std::vector<SyncEntry>& entries) {
  auto when = [](const SyncEntry& e) { return e.sound_time ? *e.sound_time : e.frame_time ? *e.frame_time : 0.0; };
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const SyncEntry& a, const SyncEntry& b) { return when(a) < when(b); });
}

// The counts of each status, and the offsets' mean, extremes and line.
void SummariseOffsets(SyncReport& report) {
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
    const double period_ms = double(report.period_frames) * report.frame_seconds * 1000;
    if (period_ms > 0) report.whole_periods = std::llround(*report.mean_ms / period_ms);
  }
}

}  // namespace

SyncReport AnalyseSync(const std::vector<FoundMark>& marks, const std::vector<FrameTime>& frames,
                       const SyncOptions& options) {
  SyncReport report;
  const Timeline video(frames);
  report.frame_seconds = video.empty() ? 0 : video.frame();
  report.period_frames = options.period_frames > 0 ? options.period_frames : PeriodFromMarks(marks, video.frame());
  const Grid grid{video, report.period_frames, static_cast<double>(options.first_number)};
  std::map<int64_t, size_t> taken;
  report.entries = PairMarks(marks, grid, options.sound_start, taken);
  if (grid.pairs()) AddMissing(grid, taken, report.entries);
  SortByTime(report.entries);
  SummariseOffsets(report);
  return report;
}

SyncReport MeasureSync(const float* interleaved, size_t frames, int channels, int rate,
                       const std::vector<FrameTime>& video, const SyncOptions& options) {
  return AnalyseSync(FindMarks(interleaved, frames, channels, rate), video, options);
}

}  // namespace tallyburn::tool
