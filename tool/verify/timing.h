// What the presentation times of a delivered stream say about the player or
// converter that made it: how long each source frame stayed on screen, the
// cadence that repeats (a 24p film captured at 60: 3:2), the frames held
// longer than the cadence allows (freezes), the ones skipped or cut short
// (stutters), and the spread of the intervals between frames. It takes the
// numbers read and the times only, so it reads the same from any input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallyburn::tool {

struct TimingReport {
  // Per delivered frame: the time to the next frame (the last one's to the
  // stream's end, when that is known).
  std::vector<std::optional<double>> durations;

  // A run of delivered frames carrying one number: one source frame on screen.
  struct Shown {
    std::optional<uint32_t> number;  // none for a run of unreadable frames
    int frame;                       // the first delivered frame of the run
    int frames;                      // how many
    double time;                     // when it appeared
    std::optional<double> duration;  // how long it stayed
  };
  std::vector<Shown> shown;

  // Delivered frames per source frame, the pattern that repeats (3, 2), in
  // its largest rotation; empty where none holds.
  std::vector<int> cadence;

  // A source frame shown longer than the cadence (or, with none, than most
  // frames) allows.
  struct Freeze {
    int frame;
    uint32_t number;
    double time;
    double duration;
    int frames;
  };
  std::vector<Freeze> freezes;

  // A source frame that never showed between its neighbours (kSkip), or one
  // shown for fewer delivered frames than the cadence gives any (kShort).
  struct Stutter {
    enum Kind { kSkip, kShort } kind;
    int frame;        // the delivered frame where it shows
    uint32_t number;  // the number shown there
    double time;
    uint32_t skipped;  // numbers missing before it (kSkip)
  };
  std::vector<Stutter> stutters;

  struct Spread {
    int count = 0;  // intervals measured
    double min = 0, median = 0, mean = 0, max = 0, stddev = 0;
  } intervals;
};

// `numbers` as Analyse takes them and each frame's presentation time in
// seconds (as many, rising); `end`: when the last frame stops, if known.
TimingReport AnalyseTiming(const std::vector<std::optional<uint32_t>>& numbers, const std::vector<double>& times,
                           std::optional<double> end = std::nullopt);

// The cadence as people write it: "3:2", and "2:2" for one that repeats
// each frame twice; "" for none.
std::string CadenceText(const std::vector<int>& cadence);

}  // namespace tallyburn::tool
