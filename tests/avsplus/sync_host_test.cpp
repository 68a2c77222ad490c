// TallySync in the real AviSynth+, loaded into the test through its C
// interface: the probe shows no sound, so the samples are read here, from
// the shipped plug-in's C entry (the one AviSynth+ takes).
#define AVSC_NO_DECLSPEC
#include <avisynth_c.h>
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "sync/tally_sync.h"
#include "tests/avsplus/host_paths.h"

namespace tallyburn::testing {
namespace {

struct Avs {
  avs_create_script_environment_func create = nullptr;
  avs_delete_script_environment_func destroy = nullptr;
  avs_invoke_func invoke = nullptr;
  avs_take_clip_func take = nullptr;
  avs_release_clip_func release_clip = nullptr;
  avs_release_value_func release_value = nullptr;
  avs_get_video_info_func info = nullptr;
  avs_get_audio_func audio = nullptr;
  avs_get_frame_func frame = nullptr;
  avs_release_video_frame_func release_frame = nullptr;
};

class SyncHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = RealHostMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    if (!HaveCDoor()) GTEST_SKIP() << "built without the host's avisynth_c.h: no C door";
    // The host stays loaded: it is not made to be unloaded.
    void* library = dlopen((RealHostFolder() + "/libavisynth.so.12").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const auto find = [&](auto& f, const char* name) {
      void* p = dlsym(library, name);
      ASSERT_NE(p, nullptr) << name;
      std::memcpy(static_cast<void*>(&f), &p, sizeof p);
    };
    find(api.create, "avs_create_script_environment");
    find(api.destroy, "avs_delete_script_environment");
    find(api.invoke, "avs_invoke");
    find(api.take, "avs_take_clip");
    find(api.release_clip, "avs_release_clip");
    find(api.release_value, "avs_release_value");
    find(api.info, "avs_get_video_info");
    find(api.audio, "avs_get_audio");
    find(api.frame, "avs_get_frame");
    find(api.release_frame, "avs_release_video_frame");
    env = api.create(AVISYNTH_INTERFACE_VERSION);
    ASSERT_NE(env, nullptr);
  }
  void TearDown() override {
    if (env) api.destroy(env);
  }

  // The script's clip (after LoadPlugin of the shipped plug-in), or null
  // with its error.
  AVS_Clip* Eval(const std::string& script, std::string* error = nullptr) {
    const std::string text = ShippedScript(script);
    const AVS_Value arg = avs_new_value_string(text.c_str());
    const AVS_Value v = api.invoke(env, "Eval", arg, nullptr);
    AVS_Clip* clip = nullptr;
    if (avs_is_error(v)) {
      if (error) *error = avs_as_error(v);
    } else if (avs_is_clip(v)) {
      clip = api.take(v, env);
    }
    api.release_value(v);
    return clip;
  }

  Avs api;
  AVS_ScriptEnvironment* env = nullptr;
};

struct HostCase {
  const char* name;
  const char* source;  // a script for the clip TallySync takes
  const char* args;
  int want_rate, want_channels, want_type;
  sync::SampleType type;
};

void PrintTo(const HostCase& c, std::ostream* os) { *os << c.name; }

class SyncHostTableTest : public SyncHostTest, public ::testing::WithParamInterface<HostCase> {};

TEST_P(SyncHostTableTest, SamplesAreTheMarksForAnyWindow) {
  const HostCase& c = GetParam();
  AVS_Clip* src = Eval(c.source);
  ASSERT_NE(src, nullptr);
  AVS_Clip* out = Eval(std::string(c.source) + ".TallySync(" + c.args + ")");
  ASSERT_NE(out, nullptr);
  const AVS_VideoInfo svi = *api.info(src);
  const AVS_VideoInfo vi = *api.info(out);
  EXPECT_EQ(vi.audio_samples_per_second, c.want_rate);
  EXPECT_EQ(vi.nchannels, c.want_channels);
  EXPECT_EQ(vi.sample_type, c.want_type);
  EXPECT_EQ(vi.num_frames, svi.num_frames);
  EXPECT_EQ(vi.pixel_type, svi.pixel_type);

  // The plan from the same clip as the host described it.
  sync::SyncRequest r;
  r.fps_num = svi.fps_numerator;
  r.fps_den = svi.fps_denominator;
  r.num_frames = svi.num_frames;
  if (svi.audio_samples_per_second != 0) {
    r.rate = svi.audio_samples_per_second;
    r.channels = svi.nchannels;
    r.samples = svi.num_audio_samples;
  }
  std::string args = c.args;
  r.period = static_cast<float>(
      args.find("period=") == std::string::npos ? 1.0 : std::stod(args.substr(args.find("period=") + 7)));
  r.level = static_cast<float>(
      args.find("level=") == std::string::npos ? -12.0 : std::stod(args.substr(args.find("level=") + 6)));
  const sync::SyncPlanResult plan = sync::PlanSync(r);
  ASSERT_TRUE(plan.plan) << plan.error;
  EXPECT_EQ(vi.num_audio_samples, plan.plan->samples);
  const sync::MarkGenerator marks(*plan.plan);

  const size_t frame_bytes = static_cast<size_t>(sync::BytesPerSample(c.type)) * vi.nchannels;
  const int64_t total = vi.num_audio_samples;
  std::vector<uint8_t> want(total * frame_bytes), got(total * frame_bytes, 0xAA);
  marks.Fill(want.data(), 0, total, c.type);
  api.audio(out, got.data(), 0, total);
  ASSERT_EQ(got, want);
  EXPECT_NE(std::count(want.begin(), want.end(), want[0]), static_cast<long>(want.size()));

  const int64_t mark = sync::SampleOfFrame(*plan.plan, plan.plan->period_frames);
  const struct { int64_t start, count; } windows[] = {{mark - 37, 1001}, {mark + 5, 1}, {total - 50, 200}, {7, 3}};
  for (const auto& w : windows) {
    SCOPED_TRACE(w.start);
    std::vector<uint8_t> piece(w.count * frame_bytes, 0xAA);
    api.audio(out, piece.data(), w.start, w.count);
    // Past the end the host pads by itself (zero bytes, whatever the type);
    // up to it the window is the long read's.
    const int64_t inside = std::min(w.count, total - w.start);
    EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + static_cast<ptrdiff_t>(inside * frame_bytes),
                           got.begin() + static_cast<ptrdiff_t>(w.start * frame_bytes)));
  }
  api.release_clip(out);
  api.release_clip(src);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, SyncHostTableTest,
    ::testing::Values(
        HostCase{"NoSoundGetsStereo48k16", "BlankClip(length=60, fps=25, width=64, height=48).KillAudio()", "", 48000,
                 2, AVS_SAMPLE_INT16, sync::SampleType::kInt16},
        HostCase{"Ntsc8BitMono44k1",
                 "BlankClip(length=95, fps=30000, fps_denominator=1001, audio_rate=44100, channels=1, "
                 "sample_type=\"8bit\", width=64, height=48)",
                 "period=1.0, level=-6.0", 44100, 1, AVS_SAMPLE_INT8, sync::SampleType::kInt8},
        HostCase{"FilmFloatSixChannels",
                 "BlankClip(length=80, fps=24000, fps_denominator=1001, audio_rate=48000, channels=6, "
                 "sample_type=\"float\", width=64, height=48)",
                 "period=0.5, level=-20.0", 48000, 6, AVS_SAMPLE_FLOAT, sync::SampleType::kFloat},
        HostCase{"Pal24Bit96k",
                 "BlankClip(length=50, fps=25, audio_rate=96000, channels=2, sample_type=\"24bit\", width=64, "
                 "height=48)",
                 "level=-3.0", 96000, 2, AVS_SAMPLE_INT24, sync::SampleType::kInt24},
        HostCase{"ToneKeeps32Bit",
                 "Tone(length=2.0, samplerate=32000, channels=3).ConvertAudioTo32bit()"
                 ".AudioDub(BlankClip(length=50, fps=25, width=64, height=48))",
                 "period=0.25", 32000, 3, AVS_SAMPLE_INT32, sync::SampleType::kInt32}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SyncHostTest, RefusalsComeThroughWithTheirMessages) {
  sync::SyncRequest r;
  r.fps_num = 25;
  r.fps_den = 1;
  r.num_frames = 50;
  r.rate = 44100;
  r.channels = 2;
  r.samples = 88200;
  for (const double period : {0.0, 5000.0}) {
    r.period = period;
    std::string error;
    EXPECT_EQ(
        Eval("BlankClip(length=50, fps=25, audio_rate=44100).TallySync(period=" + std::to_string(period) + ")", &error),
        nullptr);
    EXPECT_EQ(error.substr(0, error.find('\n')), sync::PlanSync(r).error) << period;
  }
}

}  // namespace
}  // namespace tallyburn::testing
