// verify's analyses as steps fed the frames as they are read: each opened
// on the run before the first frame, given every frame, and finished into
// the report once the frames have ended. The run (verify.cpp) keeps them in
// a table, so that an analysis is one file and one line there.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "framecode/reader.h"
#include "tool/media/picture.h"
#include "tool/verify/report.h"

namespace tallyburn::tool {

// What a run of verify reads and how.
struct VerifyOptions {
  std::string input = "-";
  std::string reference;              // "": no comparison
  std::optional<NumberRange> expect;  // the numbers that should be there
  bool sync = true;                   // measure the sound's marks, where there is sound
  int64_t sync_period = 0;            // frames between marks; 0: told from their spacing
  bool progress = false;              // frames read on standard error
};

// What a step is opened on: the run's options and the delivered pictures,
// none read yet.
struct StepContext {
  const VerifyOptions& options;
  PictureReader& delivered;
};

// A delivered frame as the run read it.
struct FrameSeen {
  int index;                        // its place in the input, from 0
  const Picture& picture;           // valid until the next frame is read
  const framecode::LumaView& luma;  // what the reader read the number from
  std::optional<uint32_t> number;   // none where the code did not read
};

class VerifyStep {
 public:
  virtual ~VerifyStep() = default;
  // Whether it needs the pictures' chroma too: without, the input may hand
  // over the luma alone.
  virtual bool wants_chroma() const { return false; }
  virtual void Frame(const FrameSeen& frame) = 0;
  // Its findings into `report`, which holds the numbers' analysis by then.
  virtual void Finish(VerifyReport& report) = 0;
};

// Opens a step on a run: none where it has nothing to do in it. It may
// throw ToolError, and verify cannot run.
using OpenStep = std::unique_ptr<VerifyStep> (*)(const StepContext& context);

std::unique_ptr<VerifyStep> OpenQuality(const StepContext& context);  // quality_step.cpp: --reference
std::unique_ptr<VerifyStep> OpenTiming(const StepContext& context);   // timing_step.cpp: the frames' times
std::unique_ptr<VerifyStep> OpenSync(const StepContext& context);     // sync_step.cpp: the sound's marks

// What the reader reads of a picture: its luma, or what stands for it:
// green in RGB (the strip is grey).
framecode::LumaView LumaOf(const Picture& picture, const VideoInfo& info);

}  // namespace tallyburn::tool
