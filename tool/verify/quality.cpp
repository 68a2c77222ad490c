#include "tool/verify/quality.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "framecode/layout.h"
#include "tool/media/ffmpeg.h"
#include "tool/media/io.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/buffer.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

namespace tallyburn::tool {
namespace {

// Line alignment of the frames handed to the filters, as FFmpeg's own.
constexpr int kAlign = 32;
// The worst frames a summary names.
constexpr size_t kWorstFrames = 10;
// The share of frames below the percentile a summary gives.
constexpr double kLowPercentile = 0.05;

AVPixelFormat PixelFormatOf(const PictureShape& shape, const char* which) {
  const AVPixelFormat f = av_get_pix_fmt(shape.format.c_str());
  if (f == AV_PIX_FMT_NONE) throw ToolError(std::string(which) + ": FFmpeg has no pixel format " + shape.format);
  if (shape.width <= 0 || shape.height <= 0) throw ToolError(std::string(which) + ": the pictures have no size");
  return f;
}

// Filters that take the rows of `band` out of the picture labelled `in`
// and label the rest `out`; `tag` keeps the labels of two chains apart.
std::string LeaveOut(const std::string& in, const std::string& out, const std::optional<RowBand>& band, int width,
                     int height, const std::string& tag) {
  const std::string w = std::to_string(width);
  if (!band) return "[" + in + "]null[" + out + "];";
  const int above = band->first, below = height - 1 - band->last;
  const auto crop = [&](int y, int h) { return "crop=" + w + ":" + std::to_string(h) + ":0:" + std::to_string(y); };
  if (below == 0) return "[" + in + "]" + crop(0, above) + "[" + out + "];";
  if (above == 0) return "[" + in + "]" + crop(band->last + 1, below) + "[" + out + "];";
  return "[" + in + "]split[" + tag + "a][" + tag + "b];[" + tag + "a]" + crop(0, above) + "[" + tag + "t];[" + tag +
         "b]" + crop(band->last + 1, below) + "[" + tag + "u];[" + tag + "t][" + tag + "u]vstack[" + out + "];";
}

std::optional<double> Meta(const AVDictionary* metadata, const char* key) {
  const AVDictionaryEntry* e = av_dict_get(metadata, key, nullptr, 0);
  if (e == nullptr) return std::nullopt;
  return std::strtod(e->value, nullptr);  // "inf" for pictures without a difference
}

// A picture's planes into a frame of its format.
void CopyInto(AVFrame* f, const Picture& p, AVPixelFormat format, const PictureShape& shape) {
  const uint8_t* planes[4] = {};
  int pitches[4] = {};
  for (int k = 0; k < 4; ++k) {
    planes[k] = p.planes[k].data;
    pitches[k] = static_cast<int>(p.planes[k].pitch);
  }
  av_image_copy(f->data, f->linesize, planes, pitches, format, shape.width, shape.height);
}

bool ReadsCode(const framecode::LumaView& view) {
  framecode::Reader reader;  // a fresh one: no line remembered from another view
  return reader.Read(view).has_value();
}

// The smallest v in [lo, hi] for which `holds` is true, for a `holds` false
// below some value and true from it on; hi when none.
template <typename F>
int FirstHolding(int lo, int hi, F holds) {
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (holds(mid))
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

}  // namespace

struct QualityMeter::Graph {
  ff::Owned<AVFilterGraph, avfilter_graph_free> graph;
  AVFilterContext* delivered = nullptr;
  AVFilterContext* reference = nullptr;
  AVFilterContext* sink = nullptr;
  ff::Frame out;
  AVPixelFormat delivered_format = AV_PIX_FMT_NONE, reference_format = AV_PIX_FMT_NONE;
  PictureShape delivered_shape, reference_shape;
  // The delivered frames handed to the graph come from a pool: a fresh
  // buffer of a few megabytes a frame costs the kernel more than the copy
  // into it.
  // Freed when the last frame comes back.
  ff::Owned<AVBufferPool, av_buffer_pool_uninit> delivered_pool;
};

QualityMeter::QualityMeter(const PictureShape& delivered, const PictureShape& reference,
                           std::optional<RowBand> left_out)
    : graph_(std::make_unique<Graph>()) {
  // The filters' own summaries at the end would repeat the report's; their
  // errors still come through.
  av_log_set_level(AV_LOG_ERROR);
  Graph& g = *graph_;
  g.delivered_format = PixelFormatOf(delivered, "the delivered pictures");
  g.reference_format = PixelFormatOf(reference, "the reference");
  g.delivered_shape = delivered;
  g.reference_shape = reference;
  if (left_out) {
    if (left_out->first < 0 || left_out->last < left_out->first || left_out->last >= reference.height)
      throw ToolError("rows " + std::to_string(left_out->first) + "-" + std::to_string(left_out->last) +
                      " are not rows of the reference");
    // Whole chroma lines, so that crop keeps the planes in step.
    const int step = 1 << av_pix_fmt_desc_get(g.reference_format)->log2_chroma_h;
    left_out->first = std::max(0, left_out->first / step * step);
    left_out->last = std::min(reference.height - 1, (left_out->last / step + 1) * step - 1);
    if (left_out->first == 0 && left_out->last == reference.height - 1)
      throw ToolError("the frame code's rows (0-" + std::to_string(left_out->last) +
                      ") leave none of the picture to compare");
  }

  left_out_ = left_out;
  std::string d = "d";
  if (!(delivered == reference)) {
    description_ += "[d]scale=" + std::to_string(reference.width) + ":" + std::to_string(reference.height) +
                    ":flags=bicubic,format=" + reference.format + "[ds];";
    d = "ds";
  }
  description_ += LeaveOut(d, "dc", left_out, reference.width, reference.height, "d");
  description_ += LeaveOut("r", "rc", left_out, reference.width, reference.height, "r");
  description_ += "[rc]split[r1][r2];[dc][r1]psnr[p];[p][r2]ssim";

  g.graph.reset(avfilter_graph_alloc());
  g.out.reset(av_frame_alloc());
  g.delivered_pool.reset(av_buffer_pool_init(
      static_cast<size_t>(av_image_get_buffer_size(g.delivered_format, delivered.width, delivered.height, kAlign)),
      nullptr));
  if (!g.graph || !g.out || !g.delivered_pool) throw ToolError("out of memory for the quality filters");
  const auto source = [&](const PictureShape& shape, AVPixelFormat format, const char* name) {
    const std::string args = "video_size=" + std::to_string(shape.width) + "x" + std::to_string(shape.height) +
                             ":pix_fmt=" + std::to_string(static_cast<int>(format)) + ":time_base=1/1:pixel_aspect=1/1";
    AVFilterContext* ctx = nullptr;
    const int e =
        avfilter_graph_create_filter(&ctx, avfilter_get_by_name("buffer"), name, args.c_str(), nullptr, g.graph.get());
    if (e < 0) throw ToolError(std::string("the quality filters: ") + name + ": " + AvErrorText(e));
    return ctx;
  };
  g.delivered = source(delivered, g.delivered_format, "d");
  g.reference = source(reference, g.reference_format, "r");
  int e =
      avfilter_graph_create_filter(&g.sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, g.graph.get());
  if (e < 0) throw ToolError("the quality filters: " + AvErrorText(e));

  AVFilterInOut* outputs = avfilter_inout_alloc();  // the sources' open outputs
  AVFilterInOut* second = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();  // the sink's open input
  if (outputs == nullptr || second == nullptr || inputs == nullptr) {
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&second);
    avfilter_inout_free(&inputs);
    throw ToolError("out of memory for the quality filters");
  }
  *outputs = {av_strdup("d"), g.delivered, 0, second};
  *second = {av_strdup("r"), g.reference, 0, nullptr};
  *inputs = {av_strdup("out"), g.sink, 0, nullptr};
  const std::string text = description_ + "[out]";
  e = avfilter_graph_parse_ptr(g.graph.get(), text.c_str(), &inputs, &outputs, nullptr);
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  if (e >= 0) e = avfilter_graph_config(g.graph.get(), nullptr);
  if (e < 0) throw ToolError("the quality filters " + description_ + ": " + AvErrorText(e));
}

QualityMeter::~QualityMeter() = default;

struct KeptPicture::Frame {
  AVFrame* frame = av_frame_alloc();
  ~Frame() { av_frame_free(&frame); }
};

KeptPicture::KeptPicture() = default;
KeptPicture::~KeptPicture() = default;
KeptPicture::KeptPicture(KeptPicture&& other) noexcept = default;
KeptPicture& KeptPicture::operator=(KeptPicture&& other) noexcept = default;

void KeptPicture::Assign(const Picture& p, const PictureShape& shape) {
  const AVPixelFormat format = PixelFormatOf(shape, "the reference");
  if (!frame_) frame_ = std::make_unique<Frame>();
  AVFrame* f = frame_->frame;
  if (f == nullptr) throw ToolError("out of memory for the reference frames");
  const bool reusable = f->buf[0] != nullptr && av_frame_is_writable(f) != 0 && f->format == format &&
                        f->width == shape.width && f->height == shape.height;
  if (!reusable) {
    av_frame_unref(f);
    f->format = format;
    f->width = shape.width;
    f->height = shape.height;
    const int e = av_frame_get_buffer(f, kAlign);
    if (e < 0) throw ToolError("the reference frames: " + AvErrorText(e));
  }
  CopyInto(f, p, format, shape);
  view_ = p;
  for (int k = 0; k < 4; ++k) {
    if (p.planes[k].data == nullptr) continue;
    view_.planes[k].data = f->data[k];
    view_.planes[k].pitch = f->linesize[k];
  }
}

void QualityMeter::Compare(const Picture& delivered, const KeptPicture& reference) {
  Graph& g = *graph_;
  AVFrame* f = av_frame_alloc();
  if (f == nullptr) throw ToolError("out of memory for the quality filters");
  f->format = g.delivered_format;
  f->width = g.delivered_shape.width;
  f->height = g.delivered_shape.height;
  f->buf[0] = av_buffer_pool_get(g.delivered_pool.get());
  int e = f->buf[0] == nullptr ? AVERROR(ENOMEM) : 0;
  if (e >= 0)
    e = av_image_fill_arrays(f->data, f->linesize, f->buf[0]->data, g.delivered_format, f->width, f->height, kAlign);
  if (e >= 0) {
    CopyInto(f, delivered, g.delivered_format, g.delivered_shape);
    f->pts = pairs_;
    e = av_buffersrc_add_frame_flags(g.delivered, f, 0);
  }
  // The reference goes in as another reference to its kept frame.
  if (e >= 0) e = av_frame_ref(f, reference.frame_->frame);
  if (e >= 0) {
    f->pts = pairs_;
    e = av_buffersrc_add_frame_flags(g.reference, f, 0);
  }
  av_frame_free(&f);
  if (e < 0) throw ToolError("the quality filters: " + AvErrorText(e));
  ++pairs_;
  Drain();
}

void QualityMeter::Drain() {
  Graph& g = *graph_;
  for (;;) {
    const int e = av_buffersink_get_frame(g.sink, g.out.get());
    if (e == AVERROR(EAGAIN) || e == AVERROR_EOF) return;
    if (e < 0) throw ToolError("the quality filters: " + AvErrorText(e));
    const AVDictionary* m = g.out->metadata;
    scores_.push_back({Meta(m, "lavfi.psnr.psnr.y"), Meta(m, "lavfi.psnr.psnr.u"), Meta(m, "lavfi.psnr.psnr.v"),
                       Meta(m, "lavfi.psnr.psnr_avg"), Meta(m, "lavfi.ssim.Y"), Meta(m, "lavfi.ssim.U"),
                       Meta(m, "lavfi.ssim.V"), Meta(m, "lavfi.ssim.All")});
    av_frame_unref(g.out.get());
  }
}

std::vector<QualityScores> QualityMeter::Finish() {
  Graph& g = *graph_;
  for (AVFilterContext* src : {g.delivered, g.reference}) {
    const int e = av_buffersrc_add_frame_flags(src, nullptr, 0);
    if (e < 0) throw ToolError("the quality filters: " + AvErrorText(e));
  }
  Drain();
  if (static_cast<int64_t>(scores_.size()) != pairs_)
    throw ToolError("the quality filters gave " + std::to_string(scores_.size()) + " scores for " +
                    std::to_string(pairs_) + " pairs");
  return std::move(scores_);
}

std::string VmafNote() {
  return avfilter_get_by_name("libvmaf") != nullptr
             ? "VMAF: not measured (the linked FFmpeg has libvmaf; verify does not run it yet)"
             : "VMAF: not measured (the linked FFmpeg has no libvmaf filter)";
}

std::optional<RowBand> StripRows(const framecode::LumaView& whole, double scale, int reference_height) {
  framecode::Reader found;
  if (!found.Read(whole)) return std::nullopt;
  // The strip is 4 modules high, each at most a 70th of the picture's
  // width, so its rows lie that close to the line it read on: the searches
  // below look at those rows alone, not at the whole picture each time.
  const int reach = framecode::kHeightModules * (whole.width / framecode::kWidthModules + 1) + 2;
  const int band_top = std::max(0, found.line() - reach);
  framecode::LumaView luma = whole;
  luma.data += static_cast<ptrdiff_t>(band_top) * whole.pitch;
  luma.height = std::min(whole.height, found.line() + reach + 1) - band_top;
  // The reader needs the clock row and the data row under it: a picture cut
  // below reads from the first data line on; one cut at the left reads
  // while some of the dark border is left, one cut at the right while some
  // of the last clock module is. The strip is 70 modules wide, so the two
  // cuts lie 69 modules apart, whatever the reader's margins.
  framecode::LumaView v = luma;
  const int data_line = FirstHolding(1, luma.height,
                                     [&](int h) {
                                       v = luma;
                                       v.height = h;
                                       return ReadsCode(v);
                                     }) -
                        1;
  const int left = FirstHolding(0, luma.width,
                                [&](int x) {
                                  v = luma;
                                  v.data += static_cast<ptrdiff_t>(x) * luma.stride;
                                  v.width -= x;
                                  return !ReadsCode(v);
                                }) -
                   1;
  const int right = FirstHolding(1, luma.width, [&](int w) {
    v = luma;
    v.width = w;
    return ReadsCode(v);
  });
  const double module = std::max(1.0, static_cast<double>(right - left) / (framecode::kWidthModules - 1));
  const double top = band_top + data_line - (framecode::kBorder + 1) * module;
  const double bottom = top + framecode::kHeightModules * module;
  // Half a module more on each side, for the blur around the strip's edges.
  const double pad = std::max(2.0, module / 2);
  RowBand band{static_cast<int>(std::floor((top - pad) * scale)),
               static_cast<int>(std::ceil((bottom + pad) * scale)) - 1};
  band.first = std::clamp(band.first, 0, reference_height - 1);
  band.last = std::clamp(band.last, band.first, reference_height - 1);
  return band;
}

RowBand Union(const RowBand& a, const RowBand& b) { return {std::min(a.first, b.first), std::max(a.last, b.last)}; }

MetricSummary Summarise(const std::vector<double>& values) {
  MetricSummary s;
  std::vector<std::pair<double, int>> finite;
  for (size_t i = 0; i < values.size(); ++i) {
    if (std::isfinite(values[i]))
      finite.push_back({values[i], static_cast<int>(i)});
    else if (std::isinf(values[i]))
      ++s.identical;
  }
  if (finite.empty()) return s;
  std::sort(finite.begin(), finite.end());
  s.count = static_cast<int>(finite.size());
  s.mean = std::accumulate(finite.begin(), finite.end(), 0.0, [](double sum, const auto& x) { return sum + x.first; }) /
           s.count;
  s.min = finite.front().first;
  // The nearest rank: the value at or below which 5% of the frames lie.
  const size_t rank = static_cast<size_t>(std::ceil(kLowPercentile * static_cast<double>(finite.size())));
  s.p5 = finite[std::max<size_t>(rank, 1) - 1].first;
  for (size_t i = 0; i < std::min(kWorstFrames, finite.size()); ++i)
    s.worst.push_back({finite[i].second, finite[i].first});
  return s;
}

}  // namespace tallyburn::tool
