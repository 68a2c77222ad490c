#include "tool/verify/verify.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
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

std::string RangeText(uint64_t a, uint64_t b) {
  return a == b ? std::to_string(a) : std::to_string(a) + "-" + std::to_string(b);
}

using ojson = nlohmann::ordered_json;

ojson Value(const std::optional<double>& v) { return v && std::isfinite(*v) ? ojson(*v) : ojson(nullptr); }

ojson SummaryJson(const MetricSummary& m, const QualityReport& q) {
  ojson worst = ojson::array();
  for (const auto& [i, v] : m.worst)
    worst.push_back({{"frame", q.frames[i].frame}, {"number", q.frames[i].number}, {"value", v}});
  if (m.count == 0) return {{"count", 0}, {"identical", m.identical}};
  return {{"count", m.count}, {"identical", m.identical}, {"mean", m.mean}, {"min", m.min}, {"p5", m.p5},
          {"worst", worst}};
}

void QualityJson(const QualityReport& q, const ojson& dropped, ojson& report) {
  ojson frames = ojson::array();
  for (const QualityReport::Frame& f : q.frames) {
    const QualityScores& x = f.scores;
    frames.push_back(
        {{"frame", f.frame},
         {"number", f.number},
         {"reference_frame", f.reference_frame},
         {"psnr",
          {{"y", Value(x.psnr_y)}, {"u", Value(x.psnr_u)}, {"v", Value(x.psnr_v)}, {"average", Value(x.psnr_average)}}},
         {"ssim",
          {{"y", Value(x.ssim_y)}, {"u", Value(x.ssim_u)}, {"v", Value(x.ssim_v)}, {"all", Value(x.ssim_all)}}}});
  }
  ojson skipped = ojson::array();
  for (const QualityReport::NotCompared& n : q.not_compared)
    skipped.push_back({{"frame", n.frame}, {"number", n.number ? ojson(*n.number) : ojson(nullptr)}, {"why", n.why}});
  report["quality"] = frames;
  report["quality_summary"] = {
      {"reference", q.reference},
      {"numbered_by", q.by_position ? "position" : "code"},
      {"rows_left_out", q.left_out ? ojson({q.left_out->first, q.left_out->last}) : ojson(nullptr)},
      {"compared", q.frames.size()},
      {"psnr_y", SummaryJson(q.psnr_y, q)},
      {"ssim", SummaryJson(q.ssim, q)},
      {"vmaf", q.vmaf},
      {"dropped", dropped},
      {"not_compared", skipped},
  };
}

ojson TimingJson(const TimingReport& t) {
  ojson durations = ojson::array();
  for (const auto& d : t.durations) durations.push_back(Value(d));
  ojson freezes = ojson::array();
  for (const auto& f : t.freezes)
    freezes.push_back(
        {{"frame", f.frame}, {"number", f.number}, {"time", f.time}, {"duration", f.duration}, {"frames", f.frames}});
  ojson stutters = ojson::array();
  for (const auto& x : t.stutters)
    stutters.push_back({{"kind", x.kind == TimingReport::Stutter::kSkip ? "skip" : "short"},
                        {"frame", x.frame},
                        {"number", x.number},
                        {"time", x.time},
                        {"skipped", x.skipped}});
  const TimingReport::Spread& i = t.intervals;
  return {{"cadence", t.cadence.empty() ? ojson(nullptr) : ojson(CadenceText(t.cadence))},
          {"intervals",
           {{"count", i.count},
            {"min", i.min},
            {"median", i.median},
            {"mean", i.mean},
            {"max", i.max},
            {"stddev", i.stddev}}},
          {"freezes", freezes},
          {"stutters", stutters},
          {"durations", durations}};
}

std::string Fixed(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string QualityText(const QualityReport& q, const std::vector<NumberRange>& dropped) {
  std::string s = "quality against " + q.reference + " (" +
                  (q.by_position ? "its frame k taken as number k" : "paired by the code") +
                  (q.left_out ? "; rows " + RangeText(q.left_out->first, q.left_out->last) + " left out" : "") +
                  "): " + std::to_string(q.frames.size()) + " frames compared\n";
  const auto summary = [&](const char* what, const MetricSummary& m, int decimals, const char* unit) {
    if (m.count == 0 && m.identical == 0) return;
    s += std::string(what) + ":";
    if (m.count > 0)
      s += " mean " + Fixed(m.mean, decimals) + unit + ", minimum " + Fixed(m.min, decimals) + ", 5th percentile " +
           Fixed(m.p5, decimals);
    if (m.identical > 0) s += (m.count ? "; " : " ") + std::to_string(m.identical) + " frames identical";
    s += "\n";
    if (m.worst.empty()) return;
    s += std::string("worst ") + what + ":";
    for (size_t i = 0; i < m.worst.size(); ++i) {
      const QualityReport::Frame& f = q.frames[m.worst[i].first];
      s += (i ? ", frame " : " frame ") + std::to_string(f.frame) + " (number " + std::to_string(f.number) + ") " +
           Fixed(m.worst[i].second, decimals);
    }
    s += "\n";
  };
  summary("PSNR Y", q.psnr_y, 2, " dB");
  summary("SSIM", q.ssim, 4, "");
  if (!dropped.empty()) {
    s += "not compared, dropped:";
    for (size_t i = 0; i < dropped.size(); ++i) s += (i ? ", " : " ") + RangeText(dropped[i].first, dropped[i].last);
    s += "\n";
  }
  if (!q.not_compared.empty()) {
    s += "not compared:";
    for (size_t i = 0; i < q.not_compared.size(); ++i) {
      const QualityReport::NotCompared& n = q.not_compared[i];
      s += (i ? ", frame " : " frame ") + std::to_string(n.frame) + " (" +
           (n.number ? "number " + std::to_string(*n.number) + ": " : "") + n.why + ")";
    }
    s += "\n";
  }
  return s + q.vmaf + "\n";
}

std::string TimingText(const TimingReport& t) {
  const auto ms = [](double seconds) { return Fixed(seconds * 1000, 1); };
  const TimingReport::Spread& i = t.intervals;
  std::string s = "frame intervals: median " + ms(i.median) + " ms (" + ms(i.min) + " to " + ms(i.max) +
                  ", standard deviation " + ms(i.stddev) + ")";
  s += t.cadence.empty() ? "; no cadence\n" : "; cadence " + CadenceText(t.cadence) + "\n";
  if (!t.freezes.empty()) {
    s += "freezes:";
    for (size_t k = 0; k < t.freezes.size(); ++k) {
      const auto& f = t.freezes[k];
      s += (k ? ", number " : " number ") + std::to_string(f.number) + " at frame " + std::to_string(f.frame) + " (" +
           ms(f.duration) + " ms, " + std::to_string(f.frames) + (f.frames == 1 ? " frame)" : " frames)");
    }
    s += "\n";
  }
  if (!t.stutters.empty()) {
    s += "stutters:";
    for (size_t k = 0; k < t.stutters.size(); ++k) {
      const auto& x = t.stutters[k];
      s += (k ? ", number " : " number ") + std::to_string(x.number) + " at frame " + std::to_string(x.frame) +
           (x.kind == TimingReport::Stutter::kSkip ? " (" + std::to_string(x.skipped) + " skipped before it)"
                                                   : " (shown shorter than the cadence)");
    }
    s += "\n";
  }
  return s;
}

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

std::string ReportJson(const VerifyReport& r, const std::string& input) {
  using json = nlohmann::ordered_json;
  json numbers = json::array();
  for (const auto& n : r.numbers) numbers.push_back(n ? json(*n) : json(nullptr));
  const auto ranges = [](const std::vector<NumberRange>& v) {
    json a = json::array();
    for (const NumberRange& x : v) a.push_back({x.first, x.last});
    return a;
  };
  json repeated = json::array();
  for (const auto& x : r.repeated) repeated.push_back({{"number", x.number}, {"frames", x.frames}});
  json backwards = json::array();
  for (const auto& x : r.out_of_order)
    backwards.push_back({{"frame", x.frame}, {"number", x.number}, {"after", x.after}});
  json unreadable = json::array();
  for (const auto& [a, b] : r.unreadable) unreadable.push_back({a, b});
  json report = {
      {"input", input},
      {"intact", r.intact()},
      {"frames", {{"read", r.numbers.size()}, {"decoded", r.decoded}, {"unreadable", r.numbers.size() - r.decoded}}},
      {"cut", r.cut},
      {"expected", r.expected ? json({r.expected->first, r.expected->last}) : json(nullptr)},
      {"starts_at", r.starts_at ? json(*r.starts_at) : json(nullptr)},
      {"ends_at", r.ends_at ? json(*r.ends_at) : json(nullptr)},
      {"dropped", ranges(r.dropped)},
      {"repeated", repeated},
      {"out_of_order", backwards},
      {"unexpected", ranges(r.unexpected)},
      {"unreadable", unreadable},
      {"numbers", numbers},
      {"times", r.times},
  };
  if (r.quality) QualityJson(*r.quality, ranges(r.dropped), report);
  if (!r.times.empty()) report["timing"] = TimingJson(AnalyseTiming(r.numbers, r.times));
  if (r.sync) {
    nlohmann::json sync;
    AddSyncJson(sync, *r.sync);
    report["sync"] = json(sync["sync"]);
    report["sync_summary"] = json(sync["sync_summary"]);
  }
  if (!r.sync_note.empty()) report["sync_note"] = r.sync_note;
  return report.dump(1) + "\n";
}

std::string ReportSummary(const VerifyReport& r, const std::string& input) {
  std::string s = "verify: " + input + ": " + std::to_string(r.numbers.size()) + " frames read, " +
                  std::to_string(r.decoded) + " decoded, " + std::to_string(r.numbers.size() - r.decoded) +
                  " unreadable\n";
  if (r.expected)
    s += "numbers " + RangeText(r.expected->first, r.expected->last) + " expected; the stream starts at " +
         std::to_string(*r.starts_at) + " and ends at " + std::to_string(*r.ends_at) + "\n";
  const auto list = [&](const char* what, const auto& items, auto text) {
    if (items.empty()) return;
    s += std::string(what) + ": ";
    for (size_t i = 0; i < items.size(); ++i) s += (i ? ", " : "") + text(items[i]);
    s += "\n";
  };
  list("dropped", r.dropped, [](const NumberRange& x) { return RangeText(x.first, x.last); });
  list("repeated", r.repeated, [](const VerifyReport::Repeat& x) {
    std::string frames;
    for (size_t i = 0; i < x.frames.size(); ++i) frames += (i ? ", " : "") + std::to_string(x.frames[i]);
    return std::to_string(x.number) + " (frames " + frames + ")";
  });
  list("out of order", r.out_of_order, [](const VerifyReport::Backwards& x) {
    return "frame " + std::to_string(x.frame) + " (" + std::to_string(x.number) + " after " + std::to_string(x.after) +
           ")";
  });
  list("unexpected", r.unexpected, [](const NumberRange& x) { return RangeText(x.first, x.last); });
  list("unreadable frames", r.unreadable, [](const std::pair<int, int>& x) { return RangeText(x.first, x.second); });
  if (r.cut) s += "the stream ends inside a frame\n";
  if (r.quality) s += QualityText(*r.quality, r.dropped);
  if (!r.times.empty()) s += TimingText(AnalyseTiming(r.numbers, r.times));
  if (r.sync) s += SyncText(*r.sync);
  if (!r.sync_note.empty()) s += "sync: not measured: " + r.sync_note + "\n";
  s += r.intact() ? "every frame present once and in order\n" : "faults found\n";
  return s;
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
