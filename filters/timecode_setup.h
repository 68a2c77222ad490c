// A timecode's set-up from a filter's `start`, `rate` and `drop`, with
// TallyTC's rules and messages, for the filters that show a timecode among
// other things.
#pragma once

#include <cstdint>
#include <string>

#include "core/clip_shape.h"
#include "timecode/timecode_engine.h"

namespace tallyburn {

struct TimecodeStart {
  tc::Mode mode;
  int64_t start_index;  // frame 0's place in the day
};

// `drop`: -1 absent (drop-frame where the rate has it, or where `start`
// asks with ';'), 0 non-drop, 1 drop-frame. `rate` null or empty: the
// clip's own. "" and `out` set, or the "<filter>: ..." message, naming
// the argument by `start_name`.
std::string SetUpTimecode(const char* filter, const char* start_name, const ClipShape& clip, const char* start,
                          const char* rate, int drop, TimecodeStart* out);

}  // namespace tallyburn
