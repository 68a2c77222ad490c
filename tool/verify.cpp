#include "tool/verify.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <variant>

#include "draw/pixel_format.h"
#include "framecode/reader.h"
#include "tool/html_report.h"
#include "tool/io.h"
#include "tool/raw_formats.h"
#include "tool/y4m.h"

namespace tallyburn::tool {
namespace {

constexpr const char* kVerifyHelp = R"(usage: tallyburn verify [options] [INPUT]

Reads the frame code TallyId burned into every frame of a YUV4MPEG2 stream
(INPUT, or - for standard input, the default) in any colour space and depth,
at any size from half to double the one it was burned at, and reports the
frames read, decoded and unreadable, the numbers dropped, repeated and out
of order, where the stream starts and ends, and runs of unreadable frames.

Options:
  --json FILE     the whole report as JSON ("numbers": one per input frame,
                  null where none could be read; "dropped": [first, last]
                  ranges; see the README)
  --expect A-B    the numbers that should be there, so that drops at either
                  end are reported too
  --reference REF compare each frame with the frame of REF (a YUV4MPEG2
                  stream: the burned file, or the master before TallyId,
                  whose frame k is number k) that carries the same number:
                  PSNR and SSIM from FFmpeg's psnr and ssim filters, the
                  frame scaled to REF's size first, the code's rows left
                  out of both; per frame in the JSON ("quality"), with the
                  mean, minimum, 5th percentile and worst ten frames
  --html FILE     the report as one self-contained page: the number each
                  frame carries, quality and frame intervals, drawn
  --progress      frames read on standard error (the default on a terminal)
  --no-progress   do not
  -h, --help      this text

Exit status: 0 every frame present once and in order, 1 faults found,
2 could not run (a bad command line or input).
)";

class VerifyUsage : public ToolError {
 public:
  using ToolError::ToolError;
};

struct VerifyOptions {
  std::string input = "-";
  bool input_given = false;
  std::string json;
  std::string reference;
  std::string html;
  std::optional<NumberRange> expect;
  bool progress = isatty(STDERR_FILENO) != 0;
};

uint32_t ParseNumber(const std::string& s, const std::string& option) {
  size_t used = 0;
  unsigned long long v = 0;
  try {
    v = std::stoull(s, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (s.empty() || s[0] == '-' || used != s.size() || v > UINT32_MAX)
    throw VerifyUsage(option + ": \"" + s + "\" is not a frame number");
  return static_cast<uint32_t>(v);
}

VerifyOptions ParseVerifyOptions(int argc, char** argv) {
  VerifyOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw VerifyUsage(a + " needs a value");
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::cout << kVerifyHelp;
      std::exit(0);
    } else if (a == "--json") {
      o.json = value();
    } else if (a == "--reference") {
      o.reference = value();
    } else if (a == "--html") {
      o.html = value();
    } else if (a == "--expect") {
      const std::string range = value();
      const size_t dash = range.find('-');
      if (dash == std::string::npos) throw VerifyUsage("--expect takes A-B, not \"" + range + "\"");
      o.expect =
          NumberRange{ParseNumber(range.substr(0, dash), "--expect"), ParseNumber(range.substr(dash + 1), "--expect")};
      if (o.expect->last < o.expect->first) throw VerifyUsage("--expect " + range + ": the range is backwards");
    } else if (a == "--progress") {
      o.progress = true;
    } else if (a == "--no-progress") {
      o.progress = false;
    } else if (a.size() > 1 && a[0] == '-') {
      throw VerifyUsage("unknown option " + a + " (see tallyburn verify --help)");
    } else if (o.input_given) {
      throw VerifyUsage("one INPUT only");
    } else {
      o.input = a;
      o.input_given = true;
    }
  }
  return o;
}

// Consecutive values as ranges.
template <typename T>
std::vector<std::pair<T, T>> Ranges(const std::vector<T>& sorted) {
  std::vector<std::pair<T, T>> out;
  for (const T v : sorted) {
    if (!out.empty() && out.back().second + 1 == v)
      out.back().second = v;
    else
      out.push_back({v, v});
  }
  return out;
}

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
           ms(f.duration) + " ms, " + std::to_string(f.frames) + " frames)";
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

// A YUV4MPEG2 stream a frame at a time, into a buffer the caller holds:
// its luma only (the rest passed over), or every plane.
class Y4mPictures {
 public:
  Y4mPictures(const std::string& path, bool whole) : in_(InputStream::Open(path)), whole_(whole) {
    h_ = ReadY4mHeader(*in_);
    f_ = *DescribePixelType(h_.pixel_type);
    // The stream's planes, Y U V, one after the other (4:2:2 too, which the
    // host holds as YUY2).
    const int bytes = f_.bytes_per_sample;
    const int cw = (h_.width + f_.chroma_step_w() - 1) >> f_.log2_chroma_w;
    const int ch = (h_.height + f_.chroma_step_h() - 1) >> f_.log2_chroma_h;
    const bool grey = f_.family == Family::kGrey;
    size_t at = 0;
    for (int k = 0; k < (grey ? 1 : 3); ++k) {
      offsets_[k] = at;
      picture_.pitches[k] = (k ? cw : h_.width) * bytes;
      at += static_cast<size_t>(picture_.pitches[k]) * static_cast<size_t>(k ? ch : h_.height);
      if (k == 0) luma_bytes_ = at;
    }
    frame_bytes_ = Y4mFrameBytes(h_);
    if (at != frame_bytes_) throw ToolError(in_->name() + ": cannot tell the planes of " + f_.name);
    shape_ = {f_.family == Family::kYuy2 ? "yuv422p" : FfmpegPixFmt(f_), h_.width, h_.height};
  }

  const std::string& name() const { return in_->name(); }
  const PictureShape& shape() const { return shape_; }
  int height() const { return h_.height; }
  int chroma_step() const { return f_.chroma_step_h(); }
  bool cut() const { return cut_; }

  // The next frame into `into`; false at the end, and where the stream ends
  // inside a frame (cut()).
  bool Next(std::vector<uint8_t>& into) {
    if (!ReadY4mFrameHeader(*in_, n_)) return false;
    ++n_;
    const size_t want = whole_ ? frame_bytes_ : luma_bytes_;
    into.resize(want);
    const size_t got = in_->Read(into.data(), want);
    const size_t rest = frame_bytes_ - want;
    if (got < want || (rest > 0 && in_->Skip(rest) < rest)) {
      cut_ = true;
      return false;
    }
    return true;
  }

  framecode::LumaView Luma(const std::vector<uint8_t>& frame) const {
    const int bytes = f_.bytes_per_sample;
    return {frame.data(), static_cast<ptrdiff_t>(h_.width) * bytes, h_.width, h_.height, bytes, f_.bits, bytes};
  }
  Picture PictureOf(const std::vector<uint8_t>& frame) const {
    Picture p = picture_;
    for (int k = 0; k < 3 && p.pitches[k] > 0; ++k) p.planes[k] = frame.data() + offsets_[k];
    return p;
  }

 private:
  std::unique_ptr<InputStream> in_;
  bool whole_;
  Y4mHeader h_;
  PixelFormat f_{};
  size_t offsets_[3] = {};
  size_t luma_bytes_ = 0, frame_bytes_ = 0;
  Picture picture_;
  PictureShape shape_;
  int n_ = 0;
  bool cut_ = false;
};

// The reference read forward as the delivered frames ask for its numbers,
// the last frames read kept for repeats and frames moved back.
class ReferenceFrames {
 public:
  explicit ReferenceFrames(const std::string& path) : pictures_(path, true) {}
  Y4mPictures& pictures() { return pictures_; }
  bool by_position() const { return by_position_; }

  struct Found {
    const std::vector<uint8_t>* frame;
    int index;
  };
  // The reference frame carrying `number`, or why there is none.
  std::variant<Found, std::string> Find(uint32_t number) {
    for (;;) {
      for (const Kept& k : kept_)
        if (k.number == number) return Found{&k.frame, k.index};
      if (ended_) return std::string("not in the reference");
      if (highest_ && number < *highest_) return std::string("the reference frame was passed long before");
      if (!ReadOne()) return std::string("not in the reference");
    }
  }
  // The first frame, read ahead to tell how the reference is numbered.
  const std::vector<uint8_t>* First() {
    if (kept_.empty() && !ended_) ReadOne();
    return kept_.empty() ? nullptr : &kept_.front().frame;
  }

 private:
  // Enough for the repeats and swaps of a delivery chain; a 1080p frame is
  // 3 MB, so this holds about 100 MB.
  static constexpr size_t kKept = 32;
  struct Kept {
    std::optional<uint32_t> number;
    int index;
    std::vector<uint8_t> frame;
  };
  bool ReadOne() {
    std::vector<uint8_t> buffer;
    if (kept_.size() >= kKept) {
      buffer = std::move(kept_.front().frame);
      kept_.pop_front();
    }
    if (!pictures_.Next(buffer)) {
      ended_ = true;
      return false;
    }
    std::optional<uint32_t> number = reader_.Read(pictures_.Luma(buffer));
    if (index_ == 0) by_position_ = !number;
    if (by_position_) number = static_cast<uint32_t>(index_);
    if (number && (!highest_ || *number > *highest_)) highest_ = number;
    kept_.push_back({number, index_++, std::move(buffer)});
    return true;
  }

  Y4mPictures pictures_;
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

bool VerifyReport::intact() const {
  return !numbers.empty() && decoded == static_cast<int>(numbers.size()) && dropped.empty() && repeated.empty() &&
         out_of_order.empty() && unexpected.empty() && !cut;
}

VerifyReport Analyse(std::vector<std::optional<uint32_t>> numbers, std::optional<NumberRange> expect) {
  VerifyReport r;
  r.numbers = std::move(numbers);
  std::map<uint32_t, std::vector<int>> seen;
  std::vector<int> unreadable;
  std::optional<uint32_t> previous;
  for (int i = 0; i < static_cast<int>(r.numbers.size()); ++i) {
    const std::optional<uint32_t>& n = r.numbers[i];
    if (!n) {
      unreadable.push_back(i);
      continue;
    }
    ++r.decoded;
    seen[*n].push_back(i);
    if (!r.starts_at) r.starts_at = n;
    r.ends_at = n;
    if (previous && *n < *previous) r.out_of_order.push_back({i, *n, *previous});
    previous = n;
  }
  for (const auto& [a, b] : Ranges(unreadable)) r.unreadable.push_back({a, b});
  if (seen.empty()) return r;

  r.expected = expect ? *expect : NumberRange{seen.begin()->first, seen.rbegin()->first};
  std::vector<uint32_t> outside;
  for (const auto& [n, frames] : seen) {
    if (frames.size() > 1) r.repeated.push_back({n, frames});
    if (n < r.expected->first || n > r.expected->last) outside.push_back(n);
  }
  for (const auto& [a, b] : Ranges(outside)) r.unexpected.push_back({a, b});
  // Gaps between the numbers seen within the expected range.
  uint64_t next = r.expected->first;
  for (auto it = seen.lower_bound(r.expected->first); it != seen.end() && it->first <= r.expected->last; ++it) {
    if (it->first > next) r.dropped.push_back({static_cast<uint32_t>(next), it->first - 1});
    next = uint64_t{it->first} + 1;
  }
  if (next <= r.expected->last) r.dropped.push_back({static_cast<uint32_t>(next), r.expected->last});
  return r;
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
  };
  if (r.quality) QualityJson(*r.quality, ranges(r.dropped), report);
  if (r.timing) report["timing"] = TimingJson(*r.timing);
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
  if (r.timing) s += TimingText(*r.timing);
  s += r.intact() ? "every frame present once and in order\n" : "faults found\n";
  return s;
}

namespace {

// Reads every frame's number and, with a reference, compares it with the
// reference frame carrying the same number.
VerifyReport ReadAndCompare(const VerifyOptions& o, std::string* name) {
  Y4mPictures delivered(o.input, !o.reference.empty());
  *name = delivered.name();
  std::optional<ReferenceFrames> reference;
  std::optional<QualityReport> quality;
  std::optional<QualityMeter> meter;
  if (!o.reference.empty()) {
    reference.emplace(o.reference);
    quality.emplace();
    quality->reference = reference->pictures().name();
    quality->vmaf = VmafNote();
  }
  std::vector<std::optional<uint32_t>> numbers;
  std::vector<uint8_t> frame;
  framecode::Reader reader;
  auto shown = std::chrono::steady_clock::now();
  for (int n = 0; delivered.Next(frame); ++n) {
    const framecode::LumaView luma = delivered.Luma(frame);
    const std::optional<uint32_t> number = reader.Read(luma);
    numbers.push_back(number);
    if (quality) {
      if (!number) {
        quality->not_compared.push_back({n, std::nullopt, "unreadable"});
      } else {
        if (!meter) {
          // The code's rows, found once: in the delivered picture scaled to
          // the reference's size, and in the reference where it carries one.
          const PictureShape& ref = reference->pictures().shape();
          std::optional<RowBand> band =
              StripRows(luma, static_cast<double>(ref.height) / delivered.shape().height, ref.height);
          const std::vector<uint8_t>* first = reference->First();
          if (first != nullptr && !reference->by_position())
            if (const auto own = StripRows(reference->pictures().Luma(*first), 1.0, ref.height))
              band = band ? Union(*band, *own) : *own;
          meter.emplace(delivered.shape(), ref, band);
          quality->left_out = meter->left_out();
          quality->by_position = reference->by_position();
        }
        const auto found = reference->Find(*number);
        if (const auto* f = std::get_if<ReferenceFrames::Found>(&found)) {
          meter->Compare(delivered.PictureOf(frame), reference->pictures().PictureOf(*f->frame));
          quality->frames.push_back({n, *number, f->index, {}});
        } else {
          quality->not_compared.push_back({n, number, std::get<std::string>(found)});
        }
      }
    }
    if (o.progress && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(250)) {
      shown = std::chrono::steady_clock::now();
      std::fprintf(stderr, "\rframe %d", n + 1);
    }
  }
  if (o.progress) std::fprintf(stderr, "\rframe %zu\n", numbers.size());
  VerifyReport report = Analyse(std::move(numbers), o.expect);
  report.cut = delivered.cut();
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

}  // namespace

int RunVerify(int argc, char** argv) {
  VerifyOptions o;
  try {
    o = ParseVerifyOptions(argc, argv);
  } catch (const VerifyUsage& e) {
    std::cerr << "tallyburn verify: " << e.what() << "\n";
    return 2;
  }
  VerifyReport report;
  std::string name;
  try {
    report = ReadAndCompare(o, &name);
  } catch (const ToolError& e) {
    std::cerr << "tallyburn verify: " << e.what() << "\n";
    return 2;
  }
  std::cerr << ReportSummary(report, name);
  try {
    if (!o.json.empty()) {
      auto out = OutputStream::Open(o.json);
      out->Write(ReportJson(report, name));
      out->Commit();
    }
    if (!o.html.empty()) {
      auto out = OutputStream::Open(o.html);
      out->Write(ReportHtml(report, name));
      out->Commit();
    }
  } catch (const ToolError& e) {
    std::cerr << "tallyburn verify: " << e.what() << "\n";
    return 2;
  }
  return report.intact() ? 0 : 1;
}

}  // namespace tallyburn::tool
