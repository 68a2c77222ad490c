// verify's report as text: the short summary it writes on standard error,
// read from the report alone.
#pragma once

#include <string>

#include "tool/verify/report.h"

namespace tallyburn::tool {

// The whole summary of a run on `input`.
std::string ReportSummary(const VerifyReport& report, const std::string& input);

// The sound's part of it: a few lines, each beginning "sync: ".
std::string SyncText(const SyncReport& sync);

}  // namespace tallyburn::tool
