// TallySync(clip, period, level): the clip's sound becomes short tone marks
// (sync/marks_layout.h), one at the start of every frame whose number is a
// multiple of the period in frames, silence between them. This is the part
// every door shares: the checks of the arguments and the samples.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallyburn::sync {

// What a door knows of its clip, and the function's arguments.
struct SyncRequest {
  uint32_t fps_num = 0;
  uint32_t fps_den = 0;
  int num_frames = 0;
  int rate = 0;          // the clip's sound, 0 where it has none
  int channels = 0;      //
  int64_t samples = 0;   // per channel
  double period = 1.0;   // seconds
  double level = -12.0;  // dBFS, the marks' peak
};

// What the marks will be.
struct SyncPlan {
  uint32_t fps_num = 0;
  uint32_t fps_den = 0;
  int num_frames = 0;
  int rate = 0;
  int channels = 0;
  int64_t samples = 0;        // the sound's length, per channel
  int64_t period_frames = 0;  // the period rounded to whole frames, at least 1
  double amplitude = 0;       // the peak, from level
  bool new_sound = false;     // the clip had none: the door sets kDefault* and 16-bit
};

// The plan, or the message that says why not (it begins "TallySync: ").
struct SyncPlanResult {
  std::optional<SyncPlan> plan;
  std::string error;
};
SyncPlanResult PlanSync(const SyncRequest& request);

// The sample types hosts hand out. 8-bit is unsigned around 128, as in
// WAV; the others are signed; all interleaved by channel.
enum class SampleType { kInt8, kInt16, kInt24, kInt32, kFloat };
int BytesPerSample(SampleType type) noexcept;

// The first sample at or after the start of frame k: k*den*rate/num
// rounded up, exactly.
int64_t SampleOfFrame(const SyncPlan& plan, int64_t frame) noexcept;

class MarkGenerator {
 public:
  explicit MarkGenerator(const SyncPlan& plan);

  // count samples per channel from start (any, even before 0 or past the
  // end, which are silence), interleaved, into buffer: the same samples for
  // any start and count as one long read.
  void Fill(void* buffer, int64_t start, int64_t count, SampleType type) const noexcept;
  // The same for one channel alone, for hosts whose sound is planar (every
  // channel carries the same samples).
  void FillPlane(void* buffer, int64_t start, int64_t count, SampleType type) const noexcept;

  const SyncPlan& plan() const noexcept { return plan_; }

 private:
  template <typename Writer>
  void FillWith(Writer write, int64_t start, int64_t count) const noexcept;
  void FillChannels(void* buffer, int64_t start, int64_t count, SampleType type, int channels) const noexcept;

  SyncPlan plan_;
  int mark_samples_ = 0;
  std::vector<float> marks_;  // kPitchCount marks of mark_samples_, at the amplitude
};

}  // namespace tallyburn::sync
