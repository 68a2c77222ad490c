// `tallyburn verify`: reads the frame code TallyId burned into each frame of a
// video (any input the tool's sources read) and reports what happened to
// the sequence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tool/verify/quality.h"
#include "tool/verify/report.h"
#include "tool/verify/sync_analysis.h"
#include "tool/verify/timing.h"

namespace tallyburn::tool {

// The summaries of PSNR (Y) and SSIM (all planes) over the frames compared.
void Summarise(QualityReport& quality);

// What a run of verify reads and how.
struct VerifyOptions {
  std::string input = "-";
  std::string reference;              // "": no comparison
  std::optional<NumberRange> expect;  // the numbers that should be there
  bool sync = true;                   // measure the sound's marks, where there is sound
  int64_t sync_period = 0;            // frames between marks; 0: told from their spacing
  bool progress = false;              // frames read on standard error
};

// Reads every frame's number and time and, with a reference, compares it
// with the reference frame carrying the same number; `name` is the input's.
VerifyReport ReadAndCompare(const VerifyOptions& options, std::string* name);

}  // namespace tallyburn::tool
