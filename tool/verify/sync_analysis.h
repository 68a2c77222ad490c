// What the marks say of sound and picture: each mark paired with the frame
// that carries its frame number, and the offset between them (positive:
// the sound is late), with its mean, extremes and drift, and the marks
// missing, extra or unreadable, as a SyncReport (report.h). verify's
// renderers write it: AddSyncJson (report_json.h), SyncText (report_text.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tool/verify/report.h"
#include "tool/verify/sync_detect.h"

namespace tallyburn::tool {

// A frame read: the number its frame code carries, its presentation time.
struct FrameTime {
  uint32_t number = 0;
  double time = 0;  // seconds, on the same clock as the sound's
};

struct SyncOptions {
  int64_t period_frames = 0;  // 0: from the spacing of the marks
  uint32_t first_number = 0;  // the number TallyId gave the clip's frame 0
  double sound_start = 0;     // the presentation time of the sound's first sample
};

SyncReport AnalyseSync(const std::vector<FoundMark>& marks, const std::vector<FrameTime>& frames,
                       const SyncOptions& options);

// The marks in this sound (frames samples of channels, interleaved, at
// rate), measured against the frames read: the one call verify needs.
SyncReport MeasureSync(const float* interleaved, size_t frames, int channels, int rate,
                       const std::vector<FrameTime>& video, const SyncOptions& options);

}  // namespace tallyburn::tool
