// The timing step: each frame's presentation time, for the timing the
// report's renderers tell from the numbers and times (timing.h).
#include <utility>
#include <vector>

#include "tool/verify/step.h"

namespace tallyburn::tool {
namespace {

class TimingStep final : public VerifyStep {
 public:
  void Frame(const FrameSeen& frame) override { times_.push_back(frame.picture.time); }
  void Finish(VerifyReport& report) override { report.times = std::move(times_); }

 private:
  std::vector<double> times_;
};

}  // namespace

std::unique_ptr<VerifyStep> OpenTiming(const StepContext&) { return std::make_unique<TimingStep>(); }

}  // namespace tallyburn::tool
