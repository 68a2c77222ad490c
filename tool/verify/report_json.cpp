#include "tool/verify/report_json.h"

#include <cmath>

#include "tool/verify/timing.h"

namespace tallyburn::tool {
namespace {

using ojson = nlohmann::ordered_json;
using Status = SyncEntry::Status;

ojson Value(const std::optional<double>& v) { return v && std::isfinite(*v) ? ojson(*v) : ojson(nullptr); }

ojson Ranges(const std::vector<NumberRange>& v) {
  ojson a = ojson::array();
  for (const NumberRange& x : v) a.push_back({x.first, x.last});
  return a;
}

// What happened to the sequence of numbers, and each frame's number and time.
ojson NumbersJson(const VerifyReport& r, const std::string& input) {
  ojson numbers = ojson::array();
  for (const auto& n : r.numbers) numbers.push_back(n ? ojson(*n) : ojson(nullptr));
  ojson repeated = ojson::array();
  for (const auto& x : r.repeated) repeated.push_back({{"number", x.number}, {"frames", x.frames}});
  ojson backwards = ojson::array();
  for (const auto& x : r.out_of_order)
    backwards.push_back({{"frame", x.frame}, {"number", x.number}, {"after", x.after}});
  ojson unreadable = ojson::array();
  for (const auto& [a, b] : r.unreadable) unreadable.push_back({a, b});
  ojson damaged = ojson::array();
  for (const auto& x : r.damaged) damaged.push_back({{"frame", x.frame}, {"why", x.why}});
  return {
      {"input", input},
      {"intact", r.intact()},
      {"frames", {{"read", r.numbers.size()}, {"decoded", r.decoded}, {"unreadable", r.numbers.size() - r.decoded}}},
      {"cut", r.cut},
      {"expected", r.expected ? ojson({r.expected->first, r.expected->last}) : ojson(nullptr)},
      {"starts_at", r.starts_at ? ojson(*r.starts_at) : ojson(nullptr)},
      {"ends_at", r.ends_at ? ojson(*r.ends_at) : ojson(nullptr)},
      {"dropped", Ranges(r.dropped)},
      {"repeated", repeated},
      {"out_of_order", backwards},
      {"unexpected", Ranges(r.unexpected)},
      {"unreadable", unreadable},
      {"damaged", damaged},
      {"numbers", numbers},
      {"times", r.times},
  };
}

ojson SummaryJson(const MetricSummary& m, const QualityReport& q) {
  ojson worst = ojson::array();
  for (const auto& [i, v] : m.worst)
    worst.push_back({{"frame", q.frames[i].frame}, {"number", q.frames[i].number}, {"value", v}});
  if (m.count == 0) return {{"count", 0}, {"identical", m.identical}};
  return {{"count", m.count}, {"identical", m.identical}, {"mean", m.mean}, {"min", m.min}, {"p5", m.p5},
          {"worst", worst}};
}

void AddQualityJson(const QualityReport& q, const ojson& dropped, ojson& report) {
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

const char* StatusName(Status status) noexcept {
  switch (status) {
    case Status::kMeasured: return "measured";
    case Status::kMissing: return "missing";
    case Status::kExtra: return "extra";
    case Status::kUnreadable: return "unreadable";
    case Status::kNoFrame: return "no frame";
  }
  return "?";
}

}  // namespace

void AddSyncJson(nlohmann::json& report, const SyncReport& sync) {
  nlohmann::json entries = nlohmann::json::array();
  for (const SyncEntry& e : sync.entries) {
    nlohmann::json j;
    j["status"] = StatusName(e.status);
    j["mark"] = e.mark ? nlohmann::json(*e.mark) : nlohmann::json();
    j["number"] = e.number ? nlohmann::json(*e.number) : nlohmann::json();
    j["frame_time"] = e.frame_time ? nlohmann::json(*e.frame_time) : nlohmann::json();
    j["sound_time"] = e.sound_time ? nlohmann::json(*e.sound_time) : nlohmann::json();
    j["offset_ms"] = e.offset_ms ? nlohmann::json(*e.offset_ms) : nlohmann::json();
    j["pitch"] = e.pitch >= 0 ? nlohmann::json(e.pitch) : nlohmann::json();
    entries.push_back(std::move(j));
  }
  report["sync"] = std::move(entries);
  auto maybe = [](const std::optional<double>& v) { return v ? nlohmann::json(*v) : nlohmann::json(); };
  report["sync_summary"] = {{"period_frames", sync.period_frames},
                            {"measured", sync.measured},
                            {"missing", sync.missing},
                            {"extra", sync.extra},
                            {"unreadable", sync.unreadable},
                            {"no_frame", sync.no_frame},
                            {"mean_ms", maybe(sync.mean_ms)},
                            {"min_ms", maybe(sync.min_ms)},
                            {"max_ms", maybe(sync.max_ms)},
                            {"drift_ms_per_minute", maybe(sync.drift_ms_per_minute)},
                            {"whole_periods", sync.whole_periods}};
}

std::string ReportJson(const VerifyReport& r, const std::string& input) {
  ojson report = NumbersJson(r, input);
  if (r.quality) AddQualityJson(*r.quality, Ranges(r.dropped), report);
  if (!r.times.empty()) report["timing"] = TimingJson(AnalyseTiming(r.numbers, r.times));
  if (r.sync) {
    // The sound's part keeps its keys in nlohmann::json's sorted order.
    nlohmann::json sync;
    AddSyncJson(sync, *r.sync);
    report["sync"] = ojson(sync["sync"]);
    report["sync_summary"] = ojson(sync["sync_summary"]);
  }
  if (!r.sync_note.empty()) report["sync_note"] = r.sync_note;
  return report.dump(1) + "\n";
}

}  // namespace tallyburn::tool
