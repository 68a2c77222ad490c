#include "tool/verify/report_text.h"

#include <cstdio>
#include <cstdlib>

#include "tool/verify/timing.h"

namespace tallyburn::tool {
namespace {

using Status = SyncEntry::Status;

std::string RangeText(uint64_t a, uint64_t b) {
  return a == b ? std::to_string(a) : std::to_string(a) + "-" + std::to_string(b);
}

std::string Fixed(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// What happened to the sequence of numbers.
std::string NumbersText(const VerifyReport& r, const std::string& input) {
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
  // Damage in runs of frames lost the same way.
  std::vector<std::pair<std::pair<int, int>, std::string>> damaged;
  for (const auto& d : r.damaged) {
    if (!damaged.empty() && damaged.back().first.second + 1 == d.frame && damaged.back().second == d.why)
      ++damaged.back().first.second;
    else
      damaged.push_back({{d.frame, d.frame}, d.why});
  }
  list("damaged", damaged, [](const auto& x) {
    const auto [a, b] = x.first;
    return (a == b ? "frame " : "frames ") + RangeText(a, b) + " (" + x.second + ")";
  });
  if (r.cut) s += "the stream ends inside a frame\n";
  return s;
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

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// "frames 30, 60 and 90" for the entries of one status, at most a few.
std::string Where(const SyncReport& sync, Status status) {
  std::vector<std::string> parts;
  int more = 0;
  for (const SyncEntry& e : sync.entries) {
    if (e.status != status) continue;
    if (parts.size() == 8) {
      ++more;
      continue;
    }
    if (e.number && status != Status::kExtra && status != Status::kUnreadable)
      parts.push_back("frame " + std::to_string(*e.number));
    else
      parts.push_back(Format("%.3f s", e.sound_time ? *e.sound_time : 0.0));
  }
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i == 0 ? "" : ", ") + parts[i];
  if (more > 0) out += " and " + std::to_string(more) + " more";
  return out;
}

}  // namespace

std::string SyncText(const SyncReport& sync) {
  std::string out;
  if (sync.measured == 0) {
    out += "sync: no mark measured";
    out += sync.entries.empty() ? " (no marks found in the sound)\n" : "\n";
  } else {
    out += "sync: " + std::to_string(sync.measured) + " mark" + (sync.measured == 1 ? "" : "s") + " measured, ";
    out += Format("offset %+.2f ms (min %+.2f, max %+.2f)", *sync.mean_ms, *sync.min_ms, *sync.max_ms);
    if (sync.drift_ms_per_minute) out += Format(", drift %+.2f ms/min", *sync.drift_ms_per_minute);
    out += ", positive: sound late\n";
    if (sync.whole_periods != 0)
      out += "sync: the sound is " + std::to_string(std::abs(sync.whole_periods)) + " whole period" +
             (std::abs(sync.whole_periods) == 1 ? "" : "s") + (sync.whole_periods > 0 ? " late" : " early") + " (" +
             std::to_string(sync.period_frames) + " frames each), told by the marks' pitches\n";
  }
  const std::pair<Status, const char*> kinds[] = {{Status::kMissing, "missing"},
                                                  {Status::kExtra, "extra"},
                                                  {Status::kUnreadable, "unreadable"},
                                                  {Status::kNoFrame, "with their frame not read"}};
  for (const auto& [status, name] : kinds) {
    const int n = status == Status::kMissing      ? sync.missing
                  : status == Status::kExtra      ? sync.extra
                  : status == Status::kUnreadable ? sync.unreadable
                                                  : sync.no_frame;
    if (n > 0)
      out += "sync: " + std::to_string(n) + " mark" + (n == 1 ? " " : "s ") + name + ": " + Where(sync, status) + "\n";
  }
  return out;
}

std::string ReportSummary(const VerifyReport& r, const std::string& input) {
  std::string s = NumbersText(r, input);
  if (r.quality) s += QualityText(*r.quality, r.dropped);
  if (!r.times.empty()) s += TimingText(AnalyseTiming(r.numbers, r.times));
  if (r.sync) s += SyncText(*r.sync);
  if (!r.sync_note.empty()) s += "sync: not measured: " + r.sync_note + "\n";
  s += r.intact() ? "every frame present once and in order\n" : "faults found\n";
  return s;
}

}  // namespace tallyburn::tool
