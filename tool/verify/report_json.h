// verify's report as JSON, the file --json writes, read from the report
// alone. The README lists its fields.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "tool/verify/report.h"

namespace tallyburn::tool {

// The whole report of a run on `input`.
std::string ReportJson(const VerifyReport& report, const std::string& input);

// The sound's part of it: "sync", one entry per mark, and "sync_summary".
void AddSyncJson(nlohmann::json& report, const SyncReport& sync);

}  // namespace tallyburn::tool
