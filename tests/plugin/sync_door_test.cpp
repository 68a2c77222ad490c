// TallySync through the 2.5 entry: the picture is the source's, the sound
// the marks of the plan made from the same clip, whatever window a host
// asks for.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "sync/tally_sync.h"
#include "tests/support/plugin_host.h"

namespace tallyburn::testing {
namespace {

struct SyncCase {
  const char* name;
  unsigned fps_num, fps_den;
  int frames;
  int audio_rate, channels;  // the source's sound, 0: none
  double period, level;
  int want_rate, want_channels;
};

void PrintTo(const SyncCase& c, std::ostream* os) { *os << c.name; }

class SyncDoorTest : public PluginHost, public ::testing::WithParamInterface<SyncCase> {};

TEST_P(SyncDoorTest, SoundIsTheMarksAndThePictureTheSources) {
  const SyncCase& c = GetParam();
  const PClip src = Source({.width = 64,
                            .height = 48,
                            .fps_numerator = c.fps_num,
                            .fps_denominator = c.fps_den,
                            .num_frames = c.frames,
                            .audio_rate = c.audio_rate,
                            .channels = c.channels});
  const PClip f = Apply("TallySync", {{"", src}, {"period", c.period}, {"level", c.level}});
  const VideoInfo& vi = f->GetVideoInfo();
  const VideoInfo& svi = src->GetVideoInfo();
  EXPECT_EQ(std::memcmp(&vi, &svi, offsetof(VideoInfo, audio_samples_per_second)), 0);
  EXPECT_EQ(vi.audio_samples_per_second, c.want_rate);
  EXPECT_EQ(vi.nchannels, c.want_channels);
  EXPECT_EQ(vi.sample_type, VideoInfo::SAMPLE_INT16);

  // The same plan the door should have made: the host's floats are 32-bit.
  sync::SyncRequest r;
  r.fps_num = c.fps_num;
  r.fps_den = c.fps_den;
  r.num_frames = c.frames;
  r.rate = c.audio_rate;
  r.channels = c.channels;
  r.samples = svi.num_audio_samples;
  r.period = static_cast<float>(c.period);
  r.level = static_cast<float>(c.level);
  const sync::SyncPlanResult plan = sync::PlanSync(r);
  ASSERT_TRUE(plan.plan) << plan.error;
  EXPECT_EQ(vi.num_audio_samples, plan.plan->samples);
  const sync::MarkGenerator marks(*plan.plan);

  // One long read from before the start to past the end.
  const int64 first = -100;
  const int64 total = vi.num_audio_samples + 300;
  const size_t frame_bytes = 2 * static_cast<size_t>(vi.nchannels);
  std::vector<uint8_t> want(total * frame_bytes), got(total * frame_bytes, 0xAA);
  marks.Fill(want.data(), first, total, sync::SampleType::kInt16);
  f->GetAudio(got.data(), first, total, &env);
  ASSERT_EQ(got, want);
  // Not silence: the marks are there.
  EXPECT_NE(std::count(want.begin(), want.end(), 0), static_cast<long>(want.size()));

  // Odd windows: across the second mark's start, one sample, past the end.
  const int64 mark = sync::SampleOfFrame(*plan.plan, plan.plan->period_frames);
  const struct {
    int64 start, count;
  } windows[] = {{mark - 37, 1001}, {mark + 5, 1}, {vi.num_audio_samples - 50, 200}, {0, 3}};
  for (const auto& w : windows) {
    SCOPED_TRACE(w.start);
    std::vector<uint8_t> piece(w.count * frame_bytes, 0xAA);
    f->GetAudio(piece.data(), w.start, w.count, &env);
    const size_t offset = (w.start - first) * frame_bytes;
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), got.begin() + static_cast<ptrdiff_t>(offset)));
  }

  for (const int n : {0, c.frames - 1}) {
    const PVideoFrame a = f->GetFrame(n, &env);
    const PVideoFrame b = src->GetFrame(n, &env);
    EXPECT_TRUE(Differences(env, a, b).empty()) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Clips, SyncDoorTest,
    ::testing::Values(SyncCase{"NoSoundGetsStereo48k", 25, 1, 60, 0, 0, 1.0, -12.0, 48000, 2},
                      SyncCase{"NtscKeeps44k1Mono", 30000, 1001, 95, 44100, 1, 1.0, -6.0, 44100, 1},
                      SyncCase{"FilmKeepsSixChannels", 24000, 1001, 80, 48000, 6, 0.5, -20.0, 48000, 6}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(PluginHost, TallySyncRefusalsComeThroughWithTheirMessages) {
  const PClip src = Source({.num_frames = 50});
  EXPECT_EQ(ErrorOf("TallySync", {{"", src}, {"period", 0.0}}).rfind("TallySync: ", 0), 0u);
  EXPECT_EQ(ErrorOf("TallySync", {{"", src}, {"level", 3.0}}).rfind("TallySync: ", 0), 0u);
  // The message is the plan's, word for word.
  sync::SyncRequest r;
  r.fps_num = 25;
  r.fps_den = 1;
  r.num_frames = 50;
  r.rate = 48000;
  r.channels = 2;
  r.samples = 96000;
  r.level = 3.0;
  EXPECT_EQ(ErrorOf("TallySync", {{"", src}, {"level", 3.0}}), sync::PlanSync(r).error);
  EXPECT_EQ(ErrorOf("TallySync", {{"", src}}), "");
}

}  // namespace
}  // namespace tallyburn::testing
