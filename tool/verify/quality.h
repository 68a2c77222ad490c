// Quality frame for frame: each delivered picture against the reference
// picture that carries the same number, measured by FFmpeg's own psnr and
// ssim filters through libavfilter, so that the numbers are ffmpeg's. The
// delivered picture is scaled to the reference's size and format first
// (FFmpeg's scale filter, libswscale), and the rows the frame code covers
// are left out of both. FFmpeg's types stay inside; pictures cross as planes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framecode/reader.h"
#include "tool/media/picture.h"
#include "tool/verify/report.h"

namespace tallyburn::tool {

// The size and FFmpeg pixel format ("yuv420p", "yuv422p10le") of pictures.
struct PictureShape {
  std::string format;
  int width = 0;
  int height = 0;
  bool operator==(const PictureShape&) const = default;
};

// A reference picture copied once into a frame the filters can share: kept
// for repeats and frames moved back, and handed to them without another
// copy, however often it is compared.
class KeptPicture {
 public:
  KeptPicture();
  ~KeptPicture();
  KeptPicture(KeptPicture&& other) noexcept;
  KeptPicture& operator=(KeptPicture&& other) noexcept;
  // Copies `p` in, into the same frame unless the filters still hold it.
  void Assign(const Picture& p, const PictureShape& shape);
  const Picture& picture() const { return view_; }

 private:
  friend class QualityMeter;
  struct Frame;
  std::unique_ptr<Frame> frame_;
  Picture view_;
};

class QualityMeter {
 public:
  // A graph comparing pictures of `delivered` shape, scaled to the
  // reference's, with `reference` pictures, `left_out` rows (of the
  // reference) left out of both. Throws ToolError for shapes FFmpeg cannot
  // take and for a band that leaves nothing.
  QualityMeter(const PictureShape& delivered, const PictureShape& reference, std::optional<RowBand> left_out);
  ~QualityMeter();
  QualityMeter(const QualityMeter&) = delete;
  QualityMeter& operator=(const QualityMeter&) = delete;

  // Compares one pair; its scores come in Finish(), in the order of the calls.
  void Compare(const Picture& delivered, const KeptPicture& reference);
  std::vector<QualityScores> Finish();

  // The filter graph, in ffmpeg's -lavfi syntax ([d] delivered, [r] reference).
  const std::string& description() const { return description_; }
  // The rows left out, on whole chroma lines.
  const std::optional<RowBand>& left_out() const { return left_out_; }

 private:
  struct Graph;
  void Drain();
  std::unique_ptr<Graph> graph_;
  std::string description_;
  std::optional<RowBand> left_out_;
  std::vector<QualityScores> scores_;
  int64_t pairs_ = 0;
};

// What the report says of VMAF: why it is not among the metrics.
std::string VmafNote();

// The rows a reference-sized picture must leave out so that the frame code
// does not count: the rows the strip covers in `luma` (found by asking the
// reader which parts of the picture still read) with a margin, scaled by
// `scale` (the reference's height over the picture's). Nothing when the
// picture carries no code.
std::optional<RowBand> StripRows(const framecode::LumaView& luma, double scale, int reference_height);

// The band covering both.
RowBand Union(const RowBand& a, const RowBand& b);

// A summary of one metric; `values`: one per frame compared (NaN where a
// frame has none); lower is worse.
MetricSummary Summarise(const std::vector<double>& values);

}  // namespace tallyburn::tool
