#include "tool/verify/verify.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <unordered_set>
#include <variant>

#include "core/pixel_format.h"
#include "framecode/reader.h"
#include "tool/media/io.h"
#include "tool/media/media_input.h"
#include "tool/media/raw_formats.h"
#include "tool/script/inputs.h"
#include "tool/verify/sync_detect.h"

namespace tallyburn::tool {
namespace {

// What the reader reads of a picture: its luma, or what stands for it:
// green in RGB (the strip is grey).
framecode::LumaView LumaOf(const Picture& p, const VideoInfo& vi) {
  const PixelFormat f = *DescribePixelType(vi.pixel_type);
  const int bytes = f.bytes_per_sample;
  const int stride = f.family == Family::kPackedRgb || f.family == Family::kYuy2 ? f.channels * bytes : bytes;
  const int skip = f.family == Family::kPackedRgb ? bytes : 0;
  return {p.planes[0].data + skip, p.planes[0].pitch, vi.width, vi.height, bytes, f.bits, stride};
}

// The pictures' shape as FFmpeg names it.
PictureShape ShapeOf(const PictureReader& pictures) {
  const VideoInfo& vi = pictures.info();
  const PixelFormat f = *DescribePixelType(vi.pixel_type);
  const std::string format = FfmpegPixFmt(f);
  if (format.empty()) throw ToolError(pictures.name() + ": pictures in " + f.name + " cannot be compared");
  return {format, vi.width, vi.height};
}

// The reference read forward as the delivered frames ask for its numbers,
// the last frames read kept (copied once) for repeats and frames moved back.
class ReferenceFrames {
 public:
  explicit ReferenceFrames(const std::string& path) : pictures_(OpenPictures(path)), shape_(ShapeOf(*pictures_)) {}
  const std::string& name() const { return pictures_->name(); }
  const PictureShape& shape() const { return shape_; }
  const VideoInfo& info() const { return pictures_->info(); }
  bool by_position() const { return by_position_; }

  struct Found {
    const KeptPicture* picture;
    int index;
  };
  // The reference frame carrying `number`, or why there is none.
  std::variant<Found, std::string> Find(uint32_t number) {
    for (;;) {
      for (const Kept& k : kept_)
        if (k.number == number) return Found{&k.picture, k.index};
      if (ended_) return std::string("not in the reference");
      if (highest_ && number < *highest_) return std::string("the reference frame was passed long before");
      if (!ReadOne()) return std::string("not in the reference");
    }
  }
  // The first frame, read ahead to tell how the reference is numbered.
  const Picture* First() {
    if (kept_.empty() && !ended_) ReadOne();
    return kept_.empty() ? nullptr : &kept_.front().picture.picture();
  }

 private:
  // Enough for the repeats and swaps of a delivery chain; a 1080p frame is
  // 3 MB, so this holds about 100 MB.
  static constexpr size_t kKept = 32;
  struct Kept {
    std::optional<uint32_t> number;
    int index;
    KeptPicture picture;
  };
  bool ReadOne() {
    const Picture* p = nullptr;
    try {
      p = pictures_->Next(false);
    } catch (const InputCut&) {
    }
    if (p == nullptr) {
      ended_ = true;
      return false;
    }
    Kept k{reader_.Read(LumaOf(*p, pictures_->info())), index_, {}};
    if (kept_.size() >= kKept) {
      k.picture = std::move(kept_.front().picture);  // its frame again, once the filters are done with it
      kept_.pop_front();
    }
    k.picture.Assign(*p, shape_);
    if (index_ == 0) by_position_ = !k.number;
    if (by_position_) k.number = static_cast<uint32_t>(index_);
    if (k.number && (!highest_ || *k.number > *highest_)) highest_ = k.number;
    ++index_;
    kept_.push_back(std::move(k));
    return true;
  }

  std::unique_ptr<PictureReader> pictures_;
  PictureShape shape_;
  framecode::Reader reader_;
  std::deque<Kept> kept_;
  std::optional<uint32_t> highest_;
  int index_ = 0;
  bool by_position_ = false;
  bool ended_ = false;
};

}  // namespace

void Summarise(QualityReport& q) {
  std::vector<double> psnr, ssim;
  for (const QualityReport::Frame& f : q.frames) {
    psnr.push_back(f.scores.psnr_y.value_or(NAN));
    ssim.push_back(f.scores.ssim_all.value_or(NAN));
  }
  q.psnr_y = Summarise(psnr);
  q.ssim = Summarise(ssim);
}

VerifyReport ReadAndCompare(const VerifyOptions& o, std::string* name) {
  const auto delivered = OpenPictures(o.input);
  *name = delivered->name();
  const VideoInfo& vi = delivered->info();
  std::optional<ReferenceFrames> reference;
  std::optional<QualityReport> quality;
  std::optional<QualityMeter> meter;
  if (!o.reference.empty()) {
    reference.emplace(o.reference);
    quality.emplace();
    quality->reference = reference->name();
    quality->vmaf = VmafNote();
  }
  // The sound, where the input is a media file with some: its marks found
  // as the frames are read.
  auto* media = o.sync ? dynamic_cast<MediaInput*>(delivered.get()) : nullptr;
  std::optional<MarkDetector> detector;
  if (media != nullptr && media->ReadSound([&detector](const float* pcm, size_t frames, int channels) {
        detector->Push(pcm, frames, channels);
      }))
    detector.emplace(media->SoundRate());
  std::vector<FrameTime> shown_at;  // each number's first showing
  std::unordered_set<uint32_t> number_seen;
  std::vector<std::optional<uint32_t>> numbers;
  std::vector<double> times;
  bool cut = false;
  framecode::Reader reader;
  auto shown = std::chrono::steady_clock::now();
  for (int n = 0;; ++n) {
    const Picture* p = nullptr;
    try {
      p = delivered->Next(!quality);
    } catch (const InputCut&) {
      cut = true;
    }
    if (p == nullptr) break;
    const framecode::LumaView luma = LumaOf(*p, vi);
    const std::optional<uint32_t> number = reader.Read(luma);
    numbers.push_back(number);
    times.push_back(p->time);
    if (detector && number && number_seen.insert(*number).second) shown_at.push_back({*number, p->time});
    if (quality && !number) quality->not_compared.push_back({n, std::nullopt, "unreadable"});
    if (quality && number) {
      if (!meter) {
        // The code's rows, found once: in the delivered picture scaled to
        // the reference's size, and in the reference where it carries one.
        const PictureShape& ref = reference->shape();
        std::optional<RowBand> band = StripRows(luma, static_cast<double>(ref.height) / vi.height, ref.height);
        const Picture* first = reference->First();
        if (first != nullptr && !reference->by_position())
          if (const auto own = StripRows(LumaOf(*first, reference->info()), 1.0, ref.height))
            band = band ? Union(*band, *own) : *own;
        meter.emplace(ShapeOf(*delivered), ref, band);
        quality->left_out = meter->left_out();
        quality->by_position = reference->by_position();
      }
      const auto found = reference->Find(*number);
      if (const auto* f = std::get_if<ReferenceFrames::Found>(&found)) {
        meter->Compare(*p, *f->picture);
        quality->frames.push_back({n, *number, f->index, {}});
      } else {
        quality->not_compared.push_back({n, number, std::get<std::string>(found)});
      }
    }
    if (o.progress && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(250)) {
      shown = std::chrono::steady_clock::now();
      std::fprintf(stderr, "\rframe %zu", numbers.size());
    }
  }
  if (o.progress) std::fprintf(stderr, "\rframe %zu\n", numbers.size());
  VerifyReport report = Analyse(std::move(numbers), o.expect);
  report.cut = cut;
  if (detector) {
    media->FinishSound();
    SyncOptions so;
    so.period_frames = o.sync_period;
    so.sound_start = media->SoundStart();
    report.sync = AnalyseSync(detector->Finish(), shown_at, so);
  }
  if (media != nullptr) report.sync_note = media->SoundTrouble();
  report.times = std::move(times);
  if (quality) {
    if (meter) {
      const std::vector<QualityScores> scores = meter->Finish();
      for (size_t i = 0; i < scores.size(); ++i) quality->frames[i].scores = scores[i];
    }
    Summarise(*quality);
    report.quality = std::move(quality);
  }
  return report;
}

}  // namespace tallyburn::tool
