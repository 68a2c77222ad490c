// Finding TallySync's marks in 48 kHz stereo, and making them, each as a
// ratio to real time: mark finding must run at more than 100 times it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sync/tally_sync.h"
#include "tool/verify/sync_detect.h"

namespace tallyburn {
namespace {

constexpr int kRate = 48000, kChannels = 2;
constexpr double kSeconds = 20;

// 20 s of marks a second apart at 29.97, with codec-like noise 40 dB down.
const std::vector<float>& Marks() {
  static const std::vector<float> sound = [] {
    sync::SyncRequest r;
    r.fps_num = 30000, r.fps_den = 1001, r.num_frames = static_cast<int>(kSeconds * 30000 / 1001);
    const sync::SyncPlan plan = *sync::PlanSync(r).plan;
    std::vector<float> s(static_cast<size_t>(plan.samples * kChannels));
    sync::MarkGenerator(plan).Fill(s.data(), 0, plan.samples, sync::SampleType::kFloat);
    std::mt19937 random(1);
    std::normal_distribution<float> noise(0, 0.0025f);
    for (float& v : s) v += noise(random);
    return s;
  }();
  return sound;
}

double SecondsOf(const std::vector<float>& s) { return double(s.size()) / kChannels / kRate; }

void BM_FindMarks(benchmark::State& state) {
  const std::vector<float>& sound = Marks();
  for (auto _ : state) {
    auto marks = tool::FindMarks(sound.data(), sound.size() / kChannels, kChannels, kRate);
    benchmark::DoNotOptimize(marks.data());
  }
  state.counters["sound_s"] = SecondsOf(sound);
}

void BM_FillMarks(benchmark::State& state) {
  sync::SyncRequest r;
  r.fps_num = 30000, r.fps_den = 1001, r.num_frames = static_cast<int>(kSeconds * 30000 / 1001);
  const sync::SyncPlan plan = *sync::PlanSync(r).plan;
  const sync::MarkGenerator generator(plan);
  std::vector<int16_t> buffer(static_cast<size_t>(plan.samples * kChannels));
  for (auto _ : state) {
    generator.Fill(buffer.data(), 0, plan.samples, sync::SampleType::kInt16);
    benchmark::ClobberMemory();
  }
  state.counters["sound_s"] = double(plan.samples) / kRate;
}

BENCHMARK(BM_FindMarks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillMarks)->Unit(benchmark::kMillisecond);

// The usual table, then each case's speed over real time.
class RealTimeReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const auto it = r.counters.find("sound_s");
      if (it == r.counters.end()) continue;
      // Both clocks: on a shared machine the wall clock counts others' work too.
      ratios_[r.benchmark_name()] = {it->second.value / (r.GetAdjustedRealTime() * 1e-3),
                                     it->second.value / (r.GetAdjustedCPUTime() * 1e-3)};  // ms
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-28s %14s %14s %10s\n", "case", "x real (wall)", "x real (cpu)", "limit");
    for (const auto& [name, both] : ratios_) {
      const double ratio = both.first;
      const bool finding = name.find("FindMarks") != std::string::npos;
      std::printf("%-28s %13.0fx %13.0fx %9s  %s\n", name.c_str(), ratio, both.second, finding ? "100x" : "-",
                  finding ? (ratio > 100 ? "(48 kHz stereo: above the limit)" : "(48 kHz stereo: BELOW THE LIMIT)")
                          : "(16-bit stereo at 48 kHz)");
    }
  }

 private:
  std::map<std::string, std::pair<double, double>> ratios_;  // wall, cpu
};

}  // namespace
}  // namespace tallyburn

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  tallyburn::RealTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
