// `tallyburn verify`: reads the frame code TallyId burned into each frame of a
// video (any input the tool's sources read) and reports what happened to
// the sequence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tool/verify/quality.h"
#include "tool/verify/sync_analysis.h"
#include "tool/verify/timing.h"

namespace tallyburn::tool {

struct NumberRange {
  uint32_t first;
  uint32_t last;
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

// The summaries of PSNR (Y) and SSIM (all planes) over the frames compared.
void Summarise(QualityReport& quality);

// What the sequence of numbers read says, frame by frame.
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
  bool cut = false;                             // the stream ends inside a frame
  std::vector<double> times;                    // per input frame: its presentation time, in seconds
  std::optional<QualityReport> quality;         // --reference
  std::optional<SyncReport> sync;               // the sound's marks against the frames, where it has sound
  std::string sync_note;                        // why sound there was not measured, or ""

  // Every expected frame present once, in order, and every frame read.
  bool intact() const;
};

// The report for these numbers, read in this order.
VerifyReport Analyse(std::vector<std::optional<uint32_t>> numbers, std::optional<NumberRange> expect);

// The report as JSON, and as a short human summary.
std::string ReportJson(const VerifyReport& report, const std::string& input);
std::string ReportSummary(const VerifyReport& report, const std::string& input);

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
