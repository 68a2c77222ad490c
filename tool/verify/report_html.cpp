#include "tool/verify/report_html.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "tool/verify/report_text.h"
#include "tool/verify/timing.h"

namespace tallyburn::tool {
namespace {

std::string Escape(const std::string& s) {
  std::string out;
  for (const char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

std::string Label(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// One chart: delivered frames across, a value up.
class Chart {
 public:
  Chart(const std::string& title, int frames, double lo, double hi)
      : frames_(std::max(frames, 1)), lo_(lo), hi_(hi > lo ? hi : lo + 1) {
    svg_ += "<text x=\"" + std::to_string(kPlotLeft) + "\" y=\"20\" class=\"title\">" + Escape(title) + "</text>";
    svg_ += "<rect x=\"" + std::to_string(kPlotLeft) + "\" y=\"" + std::to_string(kPlotTop) + "\" width=\"" +
            std::to_string(kPlotRight - kPlotLeft) + "\" height=\"" + std::to_string(kPlotBottom - kPlotTop) +
            "\" class=\"plot\"/>";
    AxisLabel(lo_, kPlotBottom - kPlotInset);
    AxisLabel(hi_, kPlotTop + kPlotInset);
    svg_ += "<text x=\"" + std::to_string(kPlotLeft) + "\" y=\"" + std::to_string(kPlotBottom + 16) +
            "\" class=\"axis\">0</text><text x=\"" + std::to_string(kPlotRight) + "\" y=\"" +
            std::to_string(kPlotBottom + 16) + "\" class=\"axis end\">frame " + std::to_string(frames_ - 1) + "</text>";
  }
  double X(double frame) const { return kPlotLeft + (frame + 0.5) * (kPlotRight - kPlotLeft) / frames_; }
  double Edge(int frame) const { return kPlotLeft + static_cast<double>(frame) * (kPlotRight - kPlotLeft) / frames_; }
  double Y(double v) const {
    const double t = std::clamp((v - lo_) / (hi_ - lo_), 0.0, 1.0);
    return kPlotBottom - kPlotInset - t * (kPlotBottom - kPlotTop - 2 * kPlotInset);
  }
  // Round dots at (frame, value), one path a colour.
  void Dots(const std::vector<std::pair<double, double>>& points, const char* colour) {
    if (points.empty()) return;
    std::string d;
    for (const auto& [frame, v] : points) d += "M" + Num(X(frame)) + " " + Num(Y(v)) + "h0";
    svg_ += "<path d=\"" + d + "\" stroke=\"" + colour + "\" class=\"dots\"/>";
  }
  // A line across the plot's height at x, its label shown at its top or
  // only on pointing at it.
  void Mark(double x, const char* colour, const std::string& label, bool shown = true) {
    svg_ += "<line x1=\"" + Num(x) + "\" x2=\"" + Num(x) + "\" y1=\"" + std::to_string(kPlotTop) + "\" y2=\"" +
            std::to_string(kPlotBottom) + "\" stroke=\"" + colour + "\" class=\"mark\"><title>" + Escape(label) +
            "</title></line>";
    if (shown)
      svg_ += "<text x=\"" + Num(x + 5) + "\" y=\"" + std::to_string(kPlotTop + 14) + "\" fill=\"" + colour +
              "\" class=\"axis\">" + Escape(label) + "</text>";
  }
  // What the colours mean, right of the title.
  void Legend(const std::vector<std::pair<const char*, std::string>>& items) {
    svg_ += "<text x=\"" + std::to_string(kPlotRight) + "\" y=\"20\" class=\"axis end\">";
    for (const auto& [colour, text] : items)
      svg_ += "<tspan fill=\"" + std::string(colour) + "\">\u25cf " + Escape(text) + "</tspan> ";
    svg_ += "</text>";
  }
  // Short ticks along the bottom at these frames.
  void Ticks(const std::vector<int>& frames, const char* colour) {
    if (frames.empty()) return;
    std::string d;
    for (const int f : frames) d += "M" + Num(X(f)) + " " + std::to_string(kPlotBottom) + "v-10";
    svg_ += "<path d=\"" + d + "\" stroke=\"" + colour + "\" class=\"ticks\"/>";
  }
  void Note(const std::string& text) {
    svg_ += "<text x=\"" + std::to_string((kPlotLeft + kPlotRight) / 2) + "\" y=\"" +
            std::to_string((kPlotTop + kPlotBottom) / 2) + "\" class=\"note\">" + Escape(text) + "</text>";
  }
  std::string Svg(int index) const {
    return "<svg width=\"" + std::to_string(kChartWidth) + "\" height=\"" + std::to_string(kChartHeight) +
           "\" style=\"top:" + std::to_string(kChartTop + index * kChartHeight) + "px\">" + svg_ + "</svg>\n";
  }

 private:
  void AxisLabel(double v, int y) {
    svg_ += "<text x=\"" + std::to_string(kPlotLeft - 6) + "\" y=\"" + std::to_string(y + 4) +
            "\" class=\"axis end\">" + Label(v) + "</text>";
  }
  int frames_;
  double lo_, hi_;
  std::string svg_;
};

// Where each dropped range shows: before the frame that carries the number
// after it (or the first frame past it), at the end when none does.
std::vector<std::pair<int, std::string>> DropPlaces(const VerifyReport& r) {
  std::vector<std::pair<int, std::string>> places;
  const int n = static_cast<int>(r.numbers.size());
  for (const NumberRange& d : r.dropped) {
    int at = n;
    for (int i = 0; i < n && at == n; ++i)
      if (r.numbers[i] && *r.numbers[i] == uint64_t{d.last} + 1) at = i;
    for (int i = 0; i < n && at == n; ++i)
      if (r.numbers[i] && *r.numbers[i] > d.last) at = i;
    places.push_back({at, "dropped " + (d.first == d.last ? std::to_string(d.first)
                                                          : std::to_string(d.first) + "-" + std::to_string(d.last))});
  }
  return places;
}

std::pair<double, double> Bounds(const std::vector<std::pair<double, double>>& points) {
  double lo = INFINITY, hi = -INFINITY;
  for (const auto& p : points)
    if (std::isfinite(p.second)) {
      lo = std::min(lo, p.second);
      hi = std::max(hi, p.second);
    }
  return std::isfinite(lo) ? std::pair{lo, hi} : std::pair{0.0, 1.0};
}

constexpr const char* kStyle = R"(
body { margin: 0; font: 13px sans-serif; color: #222; background: #fff; }
h1 { position: absolute; left: 70px; top: 0; margin: 0; font-size: 17px; line-height: 44px; font-weight: normal; }
svg { position: absolute; left: 0; }
pre { position: absolute; left: 980px; top: 48px; margin: 0; font: 12px monospace; white-space: pre-wrap; width: 560px; }
.title { font-size: 14px; font-weight: bold; }
.axis { font-size: 11px; fill: #555; }
.end { text-anchor: end; }
.note { font-size: 13px; fill: #555; text-anchor: middle; }
.plot { fill: #f7f7f7; stroke: #ccc; }
.dots { stroke-width: 5; stroke-linecap: round; fill: none; }
.mark { stroke-width: 3; }
.ticks { stroke-width: 2; fill: none; }
)";

using Points = std::vector<std::pair<double, double>>;
using DropMarks = std::vector<std::pair<int, std::string>>;

int FramesOf(const VerifyReport& r) { return static_cast<int>(r.numbers.size()); }

// The number each delivered frame carries, coloured by what became of it,
// with the drops between them.
Chart NumbersChart(const VerifyReport& r, const DropMarks& drops) {
  const int n = FramesOf(r);
  std::vector<int> unreadable;
  for (int i = 0; i < n; ++i)
    if (!r.numbers[i]) unreadable.push_back(i);
  std::set<int> repeats, backwards;
  for (const auto& x : r.repeated) repeats.insert(x.frames.begin() + 1, x.frames.end());
  for (const auto& x : r.out_of_order) backwards.insert(x.frame);
  Points plain, repeated, moved;
  for (int i = 0; i < n; ++i) {
    if (!r.numbers[i]) continue;
    auto& into = backwards.count(i) ? moved : repeats.count(i) ? repeated : plain;
    into.push_back({i, static_cast<double>(*r.numbers[i])});
  }
  const double lo = r.expected ? r.expected->first : 0, hi = r.expected ? r.expected->last : 1;
  Chart numbers("Number carried by each delivered frame", n, lo, hi);
  numbers.Legend({{kFrameColour, "read"},
                  {kRepeatColour, "repeated"},
                  {kBackwardsColour, "out of order"},
                  {kUnreadableColour, "unreadable"},
                  {kDropColour, "dropped"}});
  numbers.Dots(plain, kFrameColour);
  numbers.Dots(repeated, kRepeatColour);
  numbers.Dots(moved, kBackwardsColour);
  numbers.Ticks(unreadable, kUnreadableColour);
  for (const auto& [at, label] : drops) numbers.Mark(numbers.Edge(at), kDropColour, label);
  return numbers;
}

// PSNR Y and SSIM per frame compared, with the frames not compared and the drops.
std::pair<Chart, Chart> QualityCharts(const VerifyReport& r, const DropMarks& drops) {
  const int n = FramesOf(r);
  Points psnr, ssim;
  std::vector<int> not_compared;
  if (r.quality) {
    for (const QualityReport::Frame& f : r.quality->frames) {
      psnr.push_back({f.frame, f.scores.psnr_y.value_or(NAN)});
      ssim.push_back({f.frame, f.scores.ssim_all.value_or(NAN)});
    }
    for (const QualityReport::NotCompared& x : r.quality->not_compared) not_compared.push_back(x.frame);
  }
  const auto [psnr_lo, psnr_hi] = Bounds(psnr);
  Chart psnr_chart("PSNR Y (dB) against the reference frame with the same number", n, std::floor(psnr_lo) - 1,
                   std::ceil(psnr_hi) + 1);
  const auto [ssim_lo, ssim_hi] = Bounds(ssim);
  Chart ssim_chart("SSIM against the reference frame with the same number", n, std::floor(ssim_lo * 100 - 1) / 100,
                   std::min(1.0, std::ceil(ssim_hi * 100 + 1) / 100));
  for (Chart* c : {&psnr_chart, &ssim_chart}) {
    if (!r.quality) c->Note("no reference given (--reference REF)");
    c->Ticks(not_compared, kUnreadableColour);
    for (const auto& [at, label] : drops) c->Mark(c->Edge(at), kDropColour, label);
  }
  for (auto& p : psnr)
    if (std::isinf(p.second)) p.second = psnr_hi + 1;  // no difference: drawn at the top
  psnr_chart.Dots(psnr, kQualityColour);
  ssim_chart.Dots(ssim, kQualityColour);
  return {std::move(psnr_chart), std::move(ssim_chart)};
}

// Frame intervals, and how long each number stayed on screen.
Chart TimingChart(const VerifyReport& r) {
  std::optional<TimingReport> t;
  if (!r.times.empty()) t = AnalyseTiming(r.numbers, r.times);
  Points intervals, stays, held, short_runs;
  std::set<int> frozen, cut_short;
  if (t) {
    for (int i = 0; i < static_cast<int>(t->durations.size()); ++i)
      if (t->durations[i]) intervals.push_back({i, *t->durations[i] * 1000});
    for (const auto& f : t->freezes) frozen.insert(f.frame);
    for (const auto& x : t->stutters)
      if (x.kind == TimingReport::Stutter::kShort) cut_short.insert(x.frame);
    for (const auto& run : t->shown) {
      if (!run.number || !run.duration) continue;
      auto& into = frozen.count(run.frame) ? held : cut_short.count(run.frame) ? short_runs : stays;
      into.push_back({run.frame, *run.duration * 1000});
    }
  }
  const double ms_hi = std::max(Bounds(intervals).second, Bounds(held).second);
  Chart timing("Milliseconds" + (t && !t->cadence.empty() ? ", cadence " + CadenceText(t->cadence) : ""), FramesOf(r),
               0, std::ceil(ms_hi * 1.1));
  timing.Legend({{kIntervalColour, "to the next frame"},
                 {kFrameColour, "a number on screen"},
                 {kDropColour, "frozen"},
                 {kRepeatColour, "skipped before, or cut short"}});
  if (!t) timing.Note("no presentation times in this input");
  if (t)
    for (const auto& x : t->stutters)
      if (x.kind == TimingReport::Stutter::kSkip)
        timing.Mark(timing.Edge(x.frame), kRepeatColour,
                    std::to_string(x.skipped) + " skipped before number " + std::to_string(x.number), false);
  timing.Dots(intervals, kIntervalColour);
  timing.Dots(stays, kFrameColour);
  timing.Dots(short_runs, kRepeatColour);
  timing.Dots(held, kDropColour);
  return timing;
}

// The sound's offset at each mark, drawn at the first frame carrying its number.
Chart SyncChart(const VerifyReport& r) {
  const int n = FramesOf(r);
  std::map<uint32_t, int> first_frame;
  for (int i = 0; i < n; ++i)
    if (r.numbers[i]) first_frame.emplace(*r.numbers[i], i);
  Points offsets;
  std::vector<int> missing_marks;
  if (r.sync)
    for (const SyncEntry& e : r.sync->entries) {
      const auto at = e.number ? first_frame.find(*e.number) : first_frame.end();
      if (at == first_frame.end()) continue;
      if (e.status == SyncEntry::Status::kMeasured) offsets.push_back({at->second, *e.offset_ms});
      if (e.status == SyncEntry::Status::kMissing) missing_marks.push_back(at->second);
    }
  const auto [offset_lo, offset_hi] = Bounds(offsets);
  Chart sync_chart("Sound offset at each mark (ms, positive: sound late)", n, std::floor(std::min(offset_lo, 0.0)) - 1,
                   std::ceil(std::max(offset_hi, 0.0)) + 1);
  sync_chart.Legend({{kQualityColour, "measured"}, {kDropColour, "mark missing"}});
  if (!r.sync) sync_chart.Note(r.sync_note.empty() ? "no sound in this input" : "sound not measured: " + r.sync_note);
  if (r.sync && offsets.empty()) sync_chart.Note("no mark measured in the sound");
  sync_chart.Ticks(missing_marks, kDropColour);
  sync_chart.Dots(offsets, kQualityColour);
  return sync_chart;
}

}  // namespace

std::string ReportHtml(const VerifyReport& r, const std::string& input) {
  const DropMarks drops = DropPlaces(r);
  const Chart numbers = NumbersChart(r, drops);
  const auto [psnr, ssim] = QualityCharts(r, drops);
  const Chart timing = TimingChart(r);
  const Chart sync = SyncChart(r);
  std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>tallyburn verify: " + Escape(input) +
                     "</title><style>" + kStyle + "</style></head><body>\n<h1>tallyburn verify: " + Escape(input) +
                     (r.intact() ? ": every frame present once and in order" : ": faults found") + "</h1>\n";
  page += numbers.Svg(0) + psnr.Svg(1) + ssim.Svg(2) + timing.Svg(3) + sync.Svg(4);
  page += "<pre>" + Escape(ReportSummary(r, input)) + "</pre>\n</body></html>\n";
  return page;
}

}  // namespace tallyburn::tool
