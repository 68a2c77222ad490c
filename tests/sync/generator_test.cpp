// TallySync's sound: the checks of its arguments, and samples that start
// exactly on their frames and are the same for any read.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sync/marks_layout.h"
#include "sync/tally_sync.h"

namespace tallyburn::sync {
namespace {

SyncPlan Plan(SyncRequest r) {
  const SyncPlanResult result = PlanSync(r);
  EXPECT_EQ(result.error, "");
  return result.plan.value_or(SyncPlan{});
}

SyncRequest Silent(uint32_t num, uint32_t den, int frames, double period = 1.0) {
  SyncRequest r;
  r.fps_num = num;
  r.fps_den = den;
  r.num_frames = frames;
  r.period = period;
  return r;
}

TEST(TallySyncPlan, RefusesWithTheReason) {
  struct Case {
    SyncRequest request;
    std::string message;
  };
  SyncRequest low_rate = Silent(25, 1, 100);
  low_rate.rate = 4000, low_rate.channels = 1, low_rate.samples = 16000;
  SyncRequest no_channels = Silent(25, 1, 100);
  no_channels.rate = 48000, no_channels.channels = 0, no_channels.samples = 192000;
  SyncRequest loud = Silent(25, 1, 100), quiet = Silent(25, 1, 100), nan_level = Silent(25, 1, 100);
  loud.level = 1, quiet.level = -61, nan_level.level = NAN;
  const Case cases[] = {
      {Silent(0, 1, 100), "TallySync: the clip has no frame rate; the marks follow its frames"},
      {Silent(25, 1, 0), "TallySync: the clip has no frames; the marks follow its frames"},
      {low_rate, "TallySync: the clip's sound is at 4000 Hz; the marks need 8000 to 768000 Hz (resample it first)"},
      {no_channels, "TallySync: the clip's sound has 0 channels; the marks need 1 to 64"},
      {Silent(25, 1, 100, 0), "TallySync: period must be more than 0 and at most 3600 seconds, not 0"},
      {Silent(25, 1, 100, -1), "TallySync: period must be more than 0 and at most 3600 seconds, not -1"},
      {Silent(25, 1, 100, INFINITY), "TallySync: period must be more than 0 and at most 3600 seconds, not inf"},
      // 0.01 s rounds up to one frame, 16.7 ms at 59.94, too short for a mark.
      {Silent(60000, 1001, 100, 0.01),
       "TallySync: period 0.01 is 1 frame (16.6833 ms) at the clip's rate; marks need at least 60 ms apart (a mark "
       "and as long in silence)"},
      {loud, "TallySync: level must be -60 to 0 dBFS, not 1"},
      {quiet, "TallySync: level must be -60 to 0 dBFS, not -61"},
      {nan_level, "TallySync: level must be -60 to 0 dBFS, not nan"},
  };
  for (const Case& c : cases) {
    const SyncPlanResult result = PlanSync(c.request);
    EXPECT_FALSE(result.plan.has_value()) << c.message;
    EXPECT_EQ(result.error, c.message);
  }
}

TEST(TallySyncPlan, SilentClipsGetStereoAt48kHzAndClipsWithSoundKeepTheirs) {
  // 10 frames at 29.97 last 10*1001/30000 s: 16016 samples at 48 kHz.
  const SyncPlan silent = Plan(Silent(30000, 1001, 10, 0.1));
  EXPECT_TRUE(silent.new_sound);
  EXPECT_EQ(silent.rate, 48000);
  EXPECT_EQ(silent.channels, 2);
  EXPECT_EQ(silent.samples, 16016);
  EXPECT_EQ(silent.period_frames, 3);  // 0.1 s is 2.997 frames
  SyncRequest with_sound = Silent(25, 1, 250, 2.0);
  with_sound.rate = 44100, with_sound.channels = 6, with_sound.samples = 123456, with_sound.level = -6;
  const SyncPlan kept = Plan(with_sound);
  EXPECT_FALSE(kept.new_sound);
  EXPECT_EQ(kept.rate, 44100);
  EXPECT_EQ(kept.channels, 6);
  EXPECT_EQ(kept.samples, 123456);
  EXPECT_EQ(kept.period_frames, 50);
  EXPECT_NEAR(kept.amplitude, 0.501187, 1e-6);
}

std::vector<float> Read(const MarkGenerator& g, int64_t start, int64_t count) {
  std::vector<float> out(static_cast<size_t>(count * g.plan().channels), -9.0f);
  g.Fill(out.data(), start, count, SampleType::kFloat);
  return out;
}

// Every mark of a long clip starts on the first sample at or after its
// frame's start, with silence just before it, and is the mark of its
// pitch: the same samples as the first mark of that pitch.
TEST(TallySyncSamples, MarksStartExactlyOnTheirFramesOverAnHour) {
  struct Case {
    uint32_t num, den;
    int rate;
    int64_t per_frame_num, per_frame_den;  // samples a frame, as a reduced fraction
  };
  const Case cases[] = {{30000, 1001, 48000, 8008, 5},      // 1601.6
                        {24000, 1001, 48000, 2002, 1},      // exactly 2002
                        {30000, 1001, 44100, 147147, 100},  // 1471.47
                        {60000, 1001, 44100, 147147, 200}};
  for (const Case& c : cases) {
    SyncRequest r = Silent(c.num, c.den, static_cast<int>(3600.0 * c.num / c.den), 0.1);
    if (c.rate != 48000) r.rate = c.rate, r.channels = 1, r.samples = 3600LL * c.rate;
    const SyncPlan plan = Plan(r);
    const MarkGenerator g(plan);
    constexpr int kLook = 32;
    std::vector<std::vector<float>> first(kPitchCount);
    int64_t marks = 0;
    for (int64_t frame = 0; frame < plan.num_frames; frame += plan.period_frames, ++marks) {
      const int64_t at = (frame * c.per_frame_num + c.per_frame_den - 1) / c.per_frame_den;
      if (at + kMarkSeconds * c.rate > plan.samples) break;
      // Its first samples, and some of its tone, where the pitches differ.
      const int64_t tone = at + static_cast<int64_t>((kSweepSeconds + 0.001) * c.rate);
      std::vector<float> before = Read(g, at - 2, 2), mark = Read(g, at, kLook), pitch = Read(g, tone, kLook);
      mark.insert(mark.end(), pitch.begin(), pitch.end());
      for (const float v : before) ASSERT_EQ(v, 0.0f) << "frame " << frame << " at " << c.num << "/" << c.den;
      auto& same = first[marks % kPitchCount];
      if (same.empty()) same = mark;
      ASSERT_EQ(mark, same) << "frame " << frame << " at " << c.num << "/" << c.den << ", " << c.rate << " Hz";
    }
    EXPECT_GT(marks, 35000);
    for (int p = 1; p < kPitchCount; ++p) EXPECT_NE(first[p], first[0]) << "pitch " << p;
    // The mark itself is sound, not silence.
    float peak = 0;
    for (const float v : Read(g, 0, static_cast<int64_t>(kMarkSeconds * c.rate))) peak = std::max(peak, std::abs(v));
    EXPECT_NEAR(peak, std::pow(10, -12 / 20.0), 0.01);
  }
}

// Reads of any start and count, in every sample type, give the bytes of
// one long read, silence before 0 and past the end included.
TEST(TallySyncSamples, AnyReadIsPartOfOneLongRead) {
  const SampleType types[] = {SampleType::kInt8, SampleType::kInt16, SampleType::kInt24, SampleType::kInt32,
                              SampleType::kFloat};
  const SyncPlan plan = Plan(Silent(30000, 1001, 90, 0.2));  // 3 s, marks every 6 frames
  const MarkGenerator g(plan);
  const int64_t from = -500, to = plan.samples + 700;
  std::mt19937 random(19);
  for (const SampleType type : types) {
    const size_t frame_bytes = static_cast<size_t>(BytesPerSample(type) * plan.channels);
    std::vector<uint8_t> whole(static_cast<size_t>(to - from) * frame_bytes);
    g.Fill(whole.data(), from, to - from, type);
    for (int k = 0; k < 300; ++k) {
      const int64_t start = from + static_cast<int64_t>(random() % static_cast<uint32_t>(to - from));
      const int64_t count = std::min<int64_t>(to - start, 1 + random() % (k % 3 == 0 ? 5 : 4000));
      std::vector<uint8_t> part(static_cast<size_t>(count) * frame_bytes + 1, 0xA5);
      g.Fill(part.data(), start, count, type);
      ASSERT_EQ(part.back(), 0xA5) << "wrote past the count";
      ASSERT_EQ(
          std::memcmp(part.data(), whole.data() + static_cast<size_t>(start - from) * frame_bytes, part.size() - 1), 0)
          << "type " << static_cast<int>(type) << ", start " << start << ", count " << count;
    }
  }
}

// Every type carries the float samples at its own scale: 8-bit unsigned
// around 128, 24-bit little-endian, the same on every channel.
TEST(TallySyncSamples, EverySampleTypeCarriesTheSameSound) {
  SyncRequest r = Silent(25, 1, 50, 0.5);
  r.rate = 32000, r.channels = 3, r.samples = 64000, r.level = -1;
  const SyncPlan plan = Plan(r);
  const MarkGenerator g(plan);
  const int64_t n = plan.samples;
  const std::vector<float> reference = Read(g, 0, n);
  struct Case {
    SampleType type;
    double step;
  };
  for (const Case c : {Case{SampleType::kInt8, 1 / 127.0}, Case{SampleType::kInt16, 1 / 32767.0},
                       Case{SampleType::kInt24, 1 / 8388607.0}, Case{SampleType::kInt32, 1 / 2147483647.0}}) {
    const int bytes = BytesPerSample(c.type);
    std::vector<uint8_t> raw(static_cast<size_t>(n * plan.channels * bytes));
    g.Fill(raw.data(), 0, n, c.type);
    double worst = 0, plane_worst = 0;
    std::vector<float> plane(static_cast<size_t>(n));
    g.FillPlane(plane.data(), 0, n, SampleType::kFloat);
    for (size_t i = 0; i < reference.size(); ++i) {
      const uint8_t* p = raw.data() + i * bytes;
      double v = 0;
      switch (c.type) {
        case SampleType::kInt8: v = (p[0] - 128) / 127.0; break;
        case SampleType::kInt16: v = int16_t(p[0] | p[1] << 8) / 32767.0; break;
        case SampleType::kInt24:
          v = (int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8) / 8388607.0;
          break;
        default:
          v = int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24) /
              2147483647.0;
      }
      worst = std::max(worst, std::abs(v - reference[i]));
      if (i % plan.channels == 0) {
        plane_worst = std::max(plane_worst, std::abs(double(plane[i / plan.channels]) - reference[i]));
      }
      if (i % plan.channels != 0) {
        ASSERT_EQ(std::memcmp(p, p - bytes, bytes), 0) << "channels differ at " << i;
      }
    }
    EXPECT_LE(worst, 0.5 * c.step + 1e-7) << "type " << static_cast<int>(c.type);
    EXPECT_EQ(plane_worst, 0) << "one channel alone, for planar hosts";
  }
}

// No mark after the clip's last frame, and nothing past the sound's end.
TEST(TallySyncSamples, MarksEndWithTheClip) {
  SyncRequest r = Silent(25, 1, 26, 0.08);  // marks on frames 0, 2, ..., 24; sound 2 s for 1.04 s of frames
  r.rate = 8000, r.channels = 1, r.samples = 16000;
  const SyncPlan plan = Plan(r);
  const MarkGenerator g(plan);
  const std::vector<float> all = Read(g, 0, 16000);
  auto sound_in = [&](int64_t a, int64_t b) {
    for (int64_t i = a; i < b; ++i)
      if (all[static_cast<size_t>(i)] != 0) return true;
    return false;
  };
  EXPECT_TRUE(sound_in(24 * 320, 24 * 320 + 240));  // frame 24, 40 ms a frame at 8 kHz
  EXPECT_FALSE(sound_in(24 * 320 + 240, 16000));
}

}  // namespace
}  // namespace tallyburn::sync
