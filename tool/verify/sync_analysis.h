// What the marks say of sound and picture: each mark paired with the frame
// that carries its frame number, and the offset between them (positive:
// the sound is late), with its mean, extremes and drift, and the marks
// missing, extra or unreadable. Ready for verify: AnalyseSync over the
// marks found and the frames read, then SyncJson and SyncText.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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

struct SyncEntry {
  enum class Status {
    kMeasured,    // found, and its frame read
    kMissing,     // its frame's number was among those read, no mark was found for it
    kExtra,       // a second mark for the same frame, or one for a frame outside those read
    kUnreadable,  // something rose like a mark, its sweep or pitch did not read
    kNoFrame,     // found, but the frame it belongs to was not read
  };
  Status status = Status::kMeasured;
  std::optional<int64_t> mark;       // its count: frame / period
  std::optional<uint32_t> number;    // the frame it belongs to
  std::optional<double> frame_time;  // seconds
  std::optional<double> sound_time;  // seconds
  std::optional<double> offset_ms;   // sound_time - frame_time
  int pitch = -1;
  double match = 0;
};

struct SyncReport {
  int64_t period_frames = 0;       // 0: none known (no marks, or none to tell it from)
  double frame_seconds = 0;        // a frame's duration, from the frames read
  std::vector<SyncEntry> entries;  // in the order of their times
  int measured = 0, missing = 0, extra = 0, unreadable = 0, no_frame = 0;
  std::optional<double> mean_ms, min_ms, max_ms;
  std::optional<double> drift_ms_per_minute;  // the least-squares line over the measured marks
  int64_t whole_periods = 0;                  // the mean offset, in whole periods, when it is one or more

  // Every expected mark measured, nothing else found, within tolerance_ms.
  bool in_step(double tolerance_ms) const;
};

SyncReport AnalyseSync(const std::vector<FoundMark>& marks, const std::vector<FrameTime>& frames,
                       const SyncOptions& options);

// The marks in this sound (frames samples of channels, interleaved, at
// rate), measured against the frames read: the one call verify needs.
SyncReport MeasureSync(const float* interleaved, size_t frames, int channels, int rate,
                       const std::vector<FrameTime>& video, const SyncOptions& options);

// For verify's JSON: "sync", one entry per mark, and "sync_summary".
void AddSyncJson(nlohmann::json& report, const SyncReport& sync);
// For its text report: a few lines, each beginning "sync: ".
std::string SyncText(const SyncReport& sync);

const char* StatusName(SyncEntry::Status status) noexcept;

}  // namespace tallyburn::tool
