// `tallyburn verify`: reads the frame code TallyId burned into each frame of a
// video (any input the tool's sources read) and reports what happened to
// the sequence, with what the analyses (step.h) find on the way.
#pragma once

#include <string>

#include "tool/verify/report.h"
#include "tool/verify/step.h"

namespace tallyburn::tool {

// Reads every frame's number and feeds each frame to the analyses the
// options call for; `name` is the input's.
VerifyReport ReadAndCompare(const VerifyOptions& options, std::string* name);

}  // namespace tallyburn::tool
