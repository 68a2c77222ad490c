// The sync step: the sound of a media file, where it has some, read as the
// frames are, its marks found as it comes and paired with the first frame
// carrying each number once the frames have ended.
#include <optional>
#include <unordered_set>
#include <vector>

#include "tool/media/media_input.h"
#include "tool/verify/step.h"
#include "tool/verify/sync_analysis.h"
#include "tool/verify/sync_detect.h"

namespace tallyburn::tool {
namespace {

class SyncStep final : public VerifyStep {
 public:
  SyncStep(MediaInput& media, int64_t period) : media_(media), period_(period) {}
  SyncStep(const SyncStep&) = delete;
  SyncStep& operator=(const SyncStep&) = delete;

  // The sound, pushed into the detector as the frames are read.
  void ReadSound() {
    if (media_.ReadSound(
            [this](const float* pcm, size_t frames, int channels) { detector_->Push(pcm, frames, channels); }))
      detector_.emplace(media_.SoundRate());
  }
  void Frame(const FrameSeen& frame) override {
    if (detector_ && frame.number && number_seen_.insert(*frame.number).second)
      shown_at_.push_back({*frame.number, frame.picture.time});
  }
  void Finish(VerifyReport& report) override {
    if (detector_) {
      media_.FinishSound();
      SyncOptions options;
      options.period_frames = period_;
      options.sound_start = media_.SoundStart();
      report.sync = AnalyseSync(detector_->Finish(), shown_at_, options);
    }
    report.sync_note = media_.SoundTrouble();
  }

 private:
  MediaInput& media_;
  int64_t period_;
  std::optional<MarkDetector> detector_;  // where the input has sound to read
  std::vector<FrameTime> shown_at_;       // each number's first showing
  std::unordered_set<uint32_t> number_seen_;
};

}  // namespace

std::unique_ptr<VerifyStep> OpenSync(const StepContext& context) {
  auto* media = context.options.sync ? dynamic_cast<MediaInput*>(&context.delivered) : nullptr;
  if (media == nullptr) return nullptr;
  auto step = std::make_unique<SyncStep>(*media, context.options.sync_period);
  step->ReadSound();
  return step;
}

}  // namespace tallyburn::tool
