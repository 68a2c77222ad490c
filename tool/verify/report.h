// What a run of `tallyburn verify` found, as data: the numbers read and
// what happened to their sequence, the frames' times, the quality against a
// reference and the sound's marks against the frames. The analyses fill it
// and the renderers (report_text, report_json, report_html) read it; it
// knows neither, and nothing of pictures or sound.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tallyburn::tool {

struct NumberRange {
  uint32_t first;
  uint32_t last;
};

// Rows of the reference picture, first to last inclusive.
struct RowBand {
  int first;
  int last;
};

struct QualityScores {
  // PSNR in dB per plane and over the picture (infinite where the
  // pictures are the same), SSIM per plane and over all; none for a plane
  // the format lacks.
  std::optional<double> psnr_y, psnr_u, psnr_v, psnr_average;
  std::optional<double> ssim_y, ssim_u, ssim_v, ssim_all;
};

// A summary of one metric over the frames compared.
struct MetricSummary {
  int count = 0;      // finite values
  int identical = 0;  // infinite ones: PSNR of pictures without a difference
  double mean = 0, min = 0, p5 = 0;
  std::vector<std::pair<int, double>> worst;  // (index into the values, value), worst first, ten at most
};

// Each delivered frame against the reference frame carrying its number.
struct QualityReport {
  std::string reference;
  bool by_position = false;  // the reference carries no code: its frame k is number k
  std::optional<RowBand> left_out;
  struct Frame {
    int frame;            // the delivered frame
    uint32_t number;      // the number it carries
    int reference_frame;  // the reference frame carrying it
    QualityScores scores;
  };
  std::vector<Frame> frames;
  struct NotCompared {
    int frame;
    std::optional<uint32_t> number;
    std::string why;
  };
  std::vector<NotCompared> not_compared;
  MetricSummary psnr_y, ssim;  // over the frames compared
  std::string vmaf;            // why VMAF is not among the metrics
};

// What the presentation times say: how long each source frame stayed on
// screen, the cadence, freezes, stutters and the spread of the intervals
// (tool/verify/timing.h tells them from the numbers and times).
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

// The cadence as people write it: "3:2", and "2:2" for one that repeats
// each frame twice; "" for none.
std::string CadenceText(const std::vector<int>& cadence);

// One of TallySync's marks, or the lack of one, against the frames.
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

// Every mark paired with the frame carrying its number, the offsets'
// mean, extremes and drift, and the marks missing, extra or unreadable.
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

// What the sequence of numbers read says, frame by frame, and what the
// other analyses found.
struct VerifyReport {
  std::vector<std::optional<uint32_t>> numbers;  // per input frame; none where unreadable
  int decoded = 0;
  std::optional<NumberRange> expected;         // --expect, or the lowest to the highest read
  std::optional<uint32_t> starts_at, ends_at;  // the numbers of the first and last frames read
  std::vector<NumberRange> dropped;            // numbers expected that never came
  struct Repeat {
    uint32_t number;
    std::vector<int> frames;  // the input frames that carried it
  };
  std::vector<Repeat> repeated;
  struct Backwards {
    int frame;        // the input frame
    uint32_t number;  // its number
    uint32_t after;   // the number of the frame read before it
  };
  std::vector<Backwards> out_of_order;
  std::vector<NumberRange> unexpected;          // numbers read outside --expect
  std::vector<std::pair<int, int>> unreadable;  // runs of input frames
  struct Damage {
    int frame;        // the input frame, counted among the unreadable
    std::string why;  // what did not arrive whole
  };
  std::vector<Damage> damaged;
  bool cut = false;                      // the stream ends inside a frame
  std::vector<double> times;             // per input frame: its presentation time, in seconds
  std::optional<QualityReport> quality;  // --reference
  std::optional<SyncReport> sync;        // the sound's marks against the frames, where it has sound
  std::string sync_note;                 // why sound there was not measured, or ""

  // Every expected frame present once, in order, and every frame read.
  bool intact() const;
};

// The report for these numbers, read in this order.
VerifyReport Analyse(std::vector<std::optional<uint32_t>> numbers, std::optional<NumberRange> expect);

}  // namespace tallyburn::tool
