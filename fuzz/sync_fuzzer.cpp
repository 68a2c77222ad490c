// The sync detector and analysis on any sound: marks come out in time
// order, inside the sound, with a pitch of the table or none; the analysis
// accounts for every mark; never a crash.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sync/marks_layout.h"
#include "tool/verify/report_json.h"
#include "tool/verify/report_text.h"
#include "tool/verify/sync_analysis.h"
#include "tool/verify/sync_detect.h"

using namespace tallyburn;

namespace {

using fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  // The first bytes: channels, the rate, where the sound is cut in two
  // pushes; the rest float samples.
  const int channels = 1 + data[0] % 6;
  const int rates[] = {8000, 11025, 22050, 44100, 48000, 96000};
  const int rate = rates[data[1] % 6];
  std::vector<float> sound((size - 3) / 4);
  if (!sound.empty()) std::memcpy(sound.data(), data + 3, sound.size() * 4);  // no sample: data() may be null
  const size_t frames = sound.size() / channels;
  const size_t cut = frames == 0 ? 0 : data[2] * frames / 255;
  tool::MarkDetector detector(rate);
  detector.Push(sound.data(), cut, channels);
  detector.Push(sound.data() + cut * channels, frames - cut, channels);
  const std::vector<tool::FoundMark> marks = detector.Finish();
  const double end = double(frames) / rate;
  for (size_t i = 0; i < marks.size(); ++i) {
    Check(std::isfinite(marks[i].time) && marks[i].time >= -tool::kMarkStartsBefore - 1.0 / rate &&
              marks[i].time <= end + 1,
          "mark outside");
    Check(i == 0 || marks[i].time > marks[i - 1].time, "marks out of order");
    Check(marks[i].pitch >= -1 && marks[i].pitch < sync::kPitchCount, "pitch outside the table");
    Check(marks[i].match >= 0 && marks[i].match <= 1, "match outside 0 to 1");
  }
  // Paired with frames at 25 fps, one in seven not read.
  std::vector<tool::FrameTime> video;
  for (uint32_t n = 0; n < static_cast<uint32_t>(end * 25) + 2; ++n)
    if (n % 7 != 3) video.push_back({n, n / 25.0});
  const tool::SyncReport report = tool::AnalyseSync(marks, video, {});
  Check(static_cast<size_t>(report.measured + report.extra + report.unreadable + report.no_frame) == marks.size(),
        "a mark not accounted for");
  nlohmann::json json;
  tool::AddSyncJson(json, report);
  Check(json["sync"].size() == report.entries.size(), "an entry not in the JSON");
  (void)tool::SyncText(report);
  return 0;
}
