#include "tool/verify/verify.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "framecode/reader.h"
#include "tool/script/inputs.h"

namespace tallyburn::tool {
namespace {

// The analyses besides the numbers', opened in this order and finished in
// the reverse: the reference is opened before the sound is read, and the
// sound finished before the comparisons.
constexpr OpenStep kSteps[] = {OpenQuality, OpenTiming, OpenSync};

}  // namespace

VerifyReport ReadAndCompare(const VerifyOptions& o, std::string* name) {
  const auto delivered = OpenPictures(o.input);
  *name = delivered->name();
  const VideoInfo& vi = delivered->info();
  std::vector<std::unique_ptr<VerifyStep>> steps;
  for (const OpenStep open : kSteps)
    if (auto step = open({o, *delivered})) steps.push_back(std::move(step));
  const bool luma_only = std::none_of(steps.begin(), steps.end(), [](const auto& s) { return s->wants_chroma(); });

  std::vector<std::optional<uint32_t>> numbers;
  std::vector<VerifyReport::Damage> damaged;
  bool cut = false;
  framecode::Reader reader;
  auto shown = std::chrono::steady_clock::now();
  for (int n = 0;; ++n) {
    const Picture* p = nullptr;
    try {
      p = delivered->Next(luma_only);
    } catch (const InputCut&) {
      cut = true;
    }
    if (p == nullptr) break;
    // A damaged frame is unreadable, and the run goes on to the next.
    const bool whole = p->damage.empty();
    if (!whole) damaged.push_back({n, p->damage});
    const framecode::LumaView luma = whole ? LumaOf(*p, vi) : framecode::LumaView{};
    numbers.push_back(whole ? reader.Read(luma) : std::nullopt);
    const FrameSeen frame{n, *p, luma, numbers.back()};
    for (const auto& step : steps) step->Frame(frame);
    if (o.progress && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(250)) {
      shown = std::chrono::steady_clock::now();
      std::fprintf(stderr, "\rframe %zu", numbers.size());
    }
  }
  if (o.progress) std::fprintf(stderr, "\rframe %zu\n", numbers.size());

  VerifyReport report = Analyse(std::move(numbers), o.expect);
  report.cut = cut;
  report.damaged = std::move(damaged);
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) (*step)->Finish(report);
  return report;
}

}  // namespace tallyburn::tool
