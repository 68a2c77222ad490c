// The quality step (--reference): each delivered frame compared with the
// reference frame carrying the same number, the reference read forward as
// the delivered frames ask for it.
#include <cmath>
#include <deque>
#include <set>
#include <string>
#include <utility>
#include <variant>

#include "core/pixel_format.h"
#include "tool/media/io.h"
#include "tool/media/raw_formats.h"
#include "tool/script/inputs.h"
#include "tool/verify/quality.h"
#include "tool/verify/step.h"

namespace tallyburn::tool {
namespace {

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
      if (by_position_ && damaged_.count(static_cast<int>(number)) != 0)
        return std::string("the reference frame is damaged");
      // Its number is not known of a damaged frame: it may have been that.
      const std::string or_damaged =
          damaged_.empty() ? "" : ", or one of its " + std::to_string(damaged_.size()) + " damaged frames";
      if (ended_) return "not in the reference" + or_damaged;
      if (highest_ && number < *highest_) return "the reference frame was passed long before" + or_damaged;
      if (!ReadOne()) return "not in the reference" + or_damaged;
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
    // A reference frame lost to damage holds no picture to compare with:
    // passed over, its place kept.
    for (;;) {
      p = nullptr;
      try {
        p = pictures_->Next(false);
      } catch (const InputCut&) {
      }
      if (p == nullptr) {
        ended_ = true;
        return false;
      }
      if (p->damage.empty()) break;
      damaged_.insert(index_++);
    }
    Kept k{reader_.Read(LumaOf(*p, pictures_->info())), index_, {}};
    if (kept_.size() >= kKept) {
      k.picture = std::move(kept_.front().picture);  // its frame again, once the filters are done with it
      kept_.pop_front();
    }
    k.picture.Assign(*p, shape_);
    if (!numbered_) by_position_ = !k.number;  // told by the first whole frame
    numbered_ = true;
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
  bool numbered_ = false;  // by_position_ is told
  bool ended_ = false;
  std::set<int> damaged_;  // reference frames lost to damage
};

// The summaries of PSNR (Y) and SSIM (all planes) over the frames compared.
void SummariseScores(QualityReport& q) {
  std::vector<double> psnr, ssim;
  for (const QualityReport::Frame& f : q.frames) {
    psnr.push_back(f.scores.psnr_y.value_or(NAN));
    ssim.push_back(f.scores.ssim_all.value_or(NAN));
  }
  q.psnr_y = Summarise(psnr);
  q.ssim = Summarise(ssim);
}

class QualityStep final : public VerifyStep {
 public:
  QualityStep(const std::string& reference, const PictureReader& delivered)
      : reference_(reference), delivered_(delivered) {
    quality_.reference = reference_.name();
    quality_.vmaf = VmafNote();
  }
  bool wants_chroma() const override { return true; }

  void Frame(const FrameSeen& f) override {
    if (!f.number) {
      quality_.not_compared.push_back({f.index, std::nullopt, "unreadable"});
      return;
    }
    if (!meter_) Start(f.luma);
    const auto found = reference_.Find(*f.number);
    if (const auto* r = std::get_if<ReferenceFrames::Found>(&found)) {
      meter_->Compare(f.picture, *r->picture);
      quality_.frames.push_back({f.index, *f.number, r->index, {}});
    } else {
      quality_.not_compared.push_back({f.index, f.number, std::get<std::string>(found)});
    }
  }

  void Finish(VerifyReport& report) override {
    if (meter_) {
      const std::vector<QualityScores> scores = meter_->Finish();
      for (size_t i = 0; i < scores.size(); ++i) quality_.frames[i].scores = scores[i];
    }
    SummariseScores(quality_);
    report.quality = std::move(quality_);
  }

 private:
  // The graph, on the first frame that carries a number: the code's rows
  // found once, in that picture scaled to the reference's size, and in the
  // reference where it carries one.
  void Start(const framecode::LumaView& luma) {
    const PictureShape& ref = reference_.shape();
    std::optional<RowBand> band =
        StripRows(luma, static_cast<double>(ref.height) / delivered_.info().height, ref.height);
    const Picture* first = reference_.First();
    if (first != nullptr && !reference_.by_position())
      if (const auto own = StripRows(LumaOf(*first, reference_.info()), 1.0, ref.height))
        band = band ? Union(*band, *own) : *own;
    meter_.emplace(ShapeOf(delivered_), ref, band);
    quality_.left_out = meter_->left_out();
    quality_.by_position = reference_.by_position();
  }

  ReferenceFrames reference_;
  const PictureReader& delivered_;
  std::optional<QualityMeter> meter_;
  QualityReport quality_;
};

}  // namespace

std::unique_ptr<VerifyStep> OpenQuality(const StepContext& context) {
  if (context.options.reference.empty()) return nullptr;
  return std::make_unique<QualityStep>(context.options.reference, context.delivered);
}

}  // namespace tallyburn::tool
