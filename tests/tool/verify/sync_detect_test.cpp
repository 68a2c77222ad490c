// The detector and the analysis on the generator's own sound, changed in
// memory: onsets within a few microseconds, pitches, and the faults the
// analysis names.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "sync/marks_layout.h"
#include "sync/tally_sync.h"
#include "tool/verify/report_json.h"
#include "tool/verify/report_text.h"
#include "tool/verify/sync_analysis.h"
#include "tool/verify/sync_detect.h"

namespace tallyburn::tool {
namespace {

using sync::SyncPlan;
using sync::SyncRequest;
using Status = SyncEntry::Status;

SyncPlan Plan(uint32_t num, uint32_t den, int frames, double period, int rate, int channels, double level = -12) {
  SyncRequest r;
  r.fps_num = num, r.fps_den = den, r.num_frames = frames, r.period = period, r.level = level;
  r.rate = rate, r.channels = channels;
  r.samples = static_cast<int64_t>(std::ceil(double(frames) * den / num * rate));
  const auto result = sync::PlanSync(r);
  EXPECT_EQ(result.error, "");
  return *result.plan;
}

std::vector<float> Sound(const SyncPlan& plan) {
  std::vector<float> out(static_cast<size_t>(plan.samples * plan.channels));
  sync::MarkGenerator(plan).Fill(out.data(), 0, plan.samples, sync::SampleType::kFloat);
  return out;
}

std::vector<FrameTime> Frames(const SyncPlan& plan) {
  std::vector<FrameTime> frames;
  for (int n = 0; n < plan.num_frames; ++n)
    frames.push_back({static_cast<uint32_t>(n), double(n) * plan.fps_den / plan.fps_num});
  return frames;
}

TEST(MarkDetector, FindsEveryOnsetAndPitchAtAnyRate) {
  struct Case {
    uint32_t num, den;
    int rate, channels;
    double level;
  };
  for (const Case c : {Case{30000, 1001, 48000, 2, -12}, Case{24000, 1001, 44100, 1, -40}, Case{25, 1, 8000, 6, 0},
                       Case{60000, 1001, 96000, 2, -60}}) {
    const SyncPlan plan = Plan(c.num, c.den, 200, 0.25, c.rate, c.channels, c.level);
    const std::vector<float> sound = Sound(plan);
    const std::vector<FoundMark> marks = FindMarks(sound.data(), plan.samples, plan.channels, plan.rate);
    const int64_t expected = (plan.num_frames + plan.period_frames - 1) / plan.period_frames;
    ASSERT_EQ(static_cast<int64_t>(marks.size()), expected) << c.rate << " Hz";
    for (size_t m = 0; m < marks.size(); ++m) {
      const double onset = double(sync::SampleOfFrame(plan, static_cast<int64_t>(m) * plan.period_frames)) / plan.rate;
      EXPECT_NEAR(marks[m].time, onset, 5e-6) << "mark " << m << " at " << c.rate << " Hz";
      EXPECT_EQ(marks[m].pitch, static_cast<int>(m % sync::kPitchCount)) << "mark " << m;
      EXPECT_GT(marks[m].match, 0.99);
      EXPECT_NEAR(marks[m].level, c.level, 0.5);
    }
  }
}

// Noise 30 dB under the marks, and the sound pushed in pieces of any size.
TEST(MarkDetector, ReadsThroughNoiseInPiecesOfAnySize) {
  const SyncPlan plan = Plan(30000, 1001, 150, 0.5, 48000, 2);
  std::vector<float> sound = Sound(plan);
  std::mt19937 random(7);
  std::normal_distribution<float> noise(0, 0.25f * std::pow(10.0f, -42 / 20.0f));
  for (float& s : sound) s += noise(random);
  const std::vector<FoundMark> whole = FindMarks(sound.data(), plan.samples, 2, 48000);
  MarkDetector pieces(48000);
  for (size_t at = 0; at < static_cast<size_t>(plan.samples);) {
    const size_t n = std::min<size_t>(plan.samples - at, 1 + random() % 3000);
    pieces.Push(sound.data() + at * 2, n, 2);
    at += n;
  }
  const std::vector<FoundMark> parts = pieces.Finish();
  ASSERT_EQ(whole.size(), 10u);
  ASSERT_EQ(parts.size(), whole.size());
  for (size_t m = 0; m < whole.size(); ++m) {
    EXPECT_EQ(parts[m].time, whole[m].time);
    EXPECT_EQ(parts[m].pitch, whole[m].pitch);
    const double onset = double(sync::SampleOfFrame(plan, static_cast<int64_t>(m) * plan.period_frames)) / 48000;
    EXPECT_NEAR(whole[m].time, onset, 2e-5) << "mark " << m;
  }
}

// Faults made in memory, and what the analysis says of each.
TEST(SyncAnalysis, NamesEachFault) {
  const SyncPlan plan = Plan(30000, 1001, 240, 0.5, 48000, 1);  // 8 s, a mark every 15 frames (500.5 ms)
  const std::vector<float> clean = Sound(plan);
  const std::vector<FrameTime> frames = Frames(plan);
  const double period_ms = 500.5;
  struct Case {
    const char* name;
    double sound_start;                                      // shifts the whole sound
    std::vector<std::pair<double, double>> silenced, noise;  // seconds
    std::vector<uint32_t> drop;                              // frames not read
    double offset_ms;
    int missing, extra, unreadable, no_frame, measured;
    int64_t whole_periods;
  };
  const Case cases[] = {
      {"intact", 0, {}, {}, {}, 0, 0, 0, 0, 0, 16, 0},
      {"sound late", 0.0831, {}, {}, {}, 83.1, 0, 0, 0, 0, 16, 0},
      {"sound early, its first mark before the first frame", -0.2, {}, {}, {}, -200, 0, 0, 0, 0, 16, 0},
      {"a whole period late", 0.5005, {}, {}, {}, period_ms, 0, 0, 0, 0, 16, 1},
      {"three periods early", -1.5015, {}, {}, {}, -3 * period_ms, 0, 0, 0, 0, 16, -3},
      {"a second silenced", 0, {{1.9, 2.9}}, {}, {}, 0, 2, 0, 0, 0, 14, 0},
      {"a burst of noise between marks", 0, {}, {{3.2, 3.3}}, {}, 0, 0, 0, 1, 0, 16, 0},
      {"a mark's frame not read", 0, {}, {}, {45}, 0, 0, 0, 0, 1, 15, 0},
  };
  for (const Case& c : cases) {
    std::vector<float> sound = clean;
    for (const auto& [a, b] : c.silenced)
      for (auto i = static_cast<size_t>(a * 48000); i < static_cast<size_t>(b * 48000); ++i) sound[i] = 0;
    std::mt19937 random(3);
    for (const auto& [a, b] : c.noise)
      for (auto i = static_cast<size_t>(a * 48000); i < static_cast<size_t>(b * 48000); ++i)
        sound[i] = std::uniform_real_distribution<float>(-0.3f, 0.3f)(random);
    std::vector<FrameTime> read;
    for (const FrameTime& f : frames)
      if (std::find(c.drop.begin(), c.drop.end(), f.number) == c.drop.end()) read.push_back(f);
    SyncOptions options;
    options.sound_start = c.sound_start;
    const SyncReport report = MeasureSync(sound.data(), sound.size(), 1, 48000, read, options);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(report.period_frames, 15);
    EXPECT_EQ(report.measured, c.measured);
    EXPECT_EQ(report.missing, c.missing);
    EXPECT_EQ(report.extra, c.extra);
    EXPECT_EQ(report.unreadable, c.unreadable);
    EXPECT_EQ(report.no_frame, c.no_frame);
    EXPECT_EQ(report.whole_periods, c.whole_periods);
    ASSERT_TRUE(report.mean_ms.has_value());
    EXPECT_NEAR(*report.min_ms, c.offset_ms, 0.05);
    EXPECT_NEAR(*report.max_ms, c.offset_ms, 0.05);
    ASSERT_TRUE(report.drift_ms_per_minute.has_value());
    EXPECT_NEAR(*report.drift_ms_per_minute, 0, 0.05);
    EXPECT_EQ(report.in_step(1.0), std::string(c.name) == "intact");
  }
}

// The analysis told the period by the frames, not by the marks alone: given
// one, and a number the clip's frame 0 carries, it pairs the same.
TEST(SyncAnalysis, TakesAGivenPeriodAndFirstNumber) {
  const SyncPlan plan = Plan(25, 1, 100, 0.4, 48000, 1);  // marks on frames 0, 10, ...
  const std::vector<float> sound = Sound(plan);
  std::vector<FrameTime> frames = Frames(plan);
  for (FrameTime& f : frames) f.number += 1000;
  SyncOptions options;
  options.period_frames = 10;
  options.first_number = 1000;
  const SyncReport report = MeasureSync(sound.data(), sound.size(), 1, 48000, frames, options);
  EXPECT_EQ(report.measured, 10);
  ASSERT_FALSE(report.entries.empty());
  EXPECT_EQ(report.entries[3].number, 1030u);
  EXPECT_NEAR(*report.max_ms, 0, 0.05);
}

TEST(SyncAnalysis, JsonHasAnEntryPerMarkAndTheTextSaysWhatIsWrong) {
  const SyncPlan plan = Plan(25, 1, 100, 0.4, 48000, 1);
  std::vector<float> sound = Sound(plan);
  for (size_t i = 48000 * 1.1; i < 48000 * 1.9; ++i) sound[i] = 0;  // marks on frames 30 and 40
  SyncOptions options;
  options.sound_start = 0.012;
  const SyncReport report = MeasureSync(sound.data(), sound.size(), 1, 48000, Frames(plan), options);
  nlohmann::json json = {{"input", "x"}};
  AddSyncJson(json, report);
  ASSERT_TRUE(json["sync"].is_array());
  ASSERT_EQ(json["sync"].size(), 10u);
  EXPECT_EQ(json["sync"][3]["status"], "missing");
  EXPECT_EQ(json["sync"][3]["number"], 30);
  EXPECT_TRUE(json["sync"][3]["offset_ms"].is_null());
  EXPECT_EQ(json["sync"][5]["status"], "measured");
  EXPECT_EQ(json["sync"][5]["number"], 50);
  EXPECT_EQ(json["sync"][5]["pitch"], 5);
  EXPECT_NEAR(json["sync"][5]["offset_ms"].get<double>(), 12, 0.05);
  EXPECT_EQ(json["sync_summary"]["missing"], 2);
  EXPECT_EQ(json["sync_summary"]["period_frames"], 10);
  const std::string text = SyncText(report);
  EXPECT_NE(text.find("sync: 8 marks measured, offset +12.00 ms (min +12.00, max +12.00), drift "), std::string::npos)
      << text;
  EXPECT_NE(text.find("sync: 2 marks missing: frame 30, frame 40\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace tallyburn::tool
