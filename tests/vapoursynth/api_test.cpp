// The plug-in in the real VapourSynth core, seen through the core's own API
// in this process: what the probe's output cannot show. The functions and
// their signatures as registered, the source node itself handed back for a
// format not drawn, a parallel filter over it otherwise, every frame
// property kept and the source's frames left as they were.
#define VS_USE_API_41  // node inspection, which the plug-in itself does not use
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "VapourSynth4.h"
#include "sync/tally_sync.h"
#include "tests/vapoursynth/vs_host.h"

namespace tallyburn::testing {
namespace {

class VsApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = VsHost::Missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    // The core stays loaded: it is not made to be unloaded.
    void* library = dlopen((VsHost::Folder() + "/libvapoursynth.so.4").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const auto get = reinterpret_cast<VSGetVapourSynthAPI>(dlsym(library, "getVapourSynthAPI"));
    ASSERT_NE(get, nullptr);
    api = get(VAPOURSYNTH_API_VERSION);
    ASSERT_NE(api, nullptr);
    core = api->createCore(ccfDisableAutoLoading);
    VSMap* args = api->createMap();
    api->mapSetData(args, "path", TALLYBURN_PLUGIN_PATH, -1, dtUtf8, maReplace);
    Release(Invoke("com.vapoursynth.std", "LoadPlugin", args));
    tally = api->getPluginByNamespace("tally", core);
    ASSERT_NE(tally, nullptr);
  }
  void TearDown() override {
    if (core) api->freeCore(core);
  }

  // The function's output; the test fails on its error.
  VSMap* Invoke(const char* plugin_id, const char* function, VSMap* args) {
    VSMap* out = api->invoke(api->getPluginByID(plugin_id, core), function, args);
    api->freeMap(args);
    EXPECT_EQ(api->mapGetError(out), nullptr) << function << ": " << api->mapGetError(out);
    return out;
  }
  void Release(VSMap* map) { api->freeMap(map); }

  VSNode* Blank(int format, int width, int height) {
    VSMap* args = api->createMap();
    api->mapSetInt(args, "format", format, maReplace);
    api->mapSetInt(args, "width", width, maReplace);
    api->mapSetInt(args, "height", height, maReplace);
    VSVideoFormat f{};
    api->getVideoFormatByID(&f, static_cast<uint32_t>(format), core);
    for (const double c : {81, 90, 240})
      if (api->mapNumElements(args, "color") < f.numPlanes) api->mapSetFloat(args, "color", c, maAppend);
    return NodeOf(Invoke("com.vapoursynth.std", "BlankClip", args));
  }
  // Our function on `clip`, with one integer argument where given.
  VSNode* Tally(const char* function, VSNode* clip, const char* arg = nullptr, int64_t value = 0) {
    VSMap* args = api->createMap();
    api->mapSetNode(args, "clip", clip, maReplace);
    if (arg) api->mapSetInt(args, arg, value, maReplace);
    VSMap* out = api->invoke(tally, function, args);
    api->freeMap(args);
    EXPECT_EQ(api->mapGetError(out), nullptr) << function << ": " << api->mapGetError(out);
    return NodeOf(out);
  }
  VSNode* NodeOf(VSMap* out) {
    int error = 0;
    VSNode* node = api->mapGetError(out) ? nullptr : api->mapGetNode(out, "clip", 0, &error);
    api->freeMap(out);
    return node;
  }
  const VSFrame* FrameOf(VSNode* node, int n) {
    char error[256] = {};
    const VSFrame* f = api->getFrame(n, node, error, sizeof error);
    EXPECT_NE(f, nullptr) << error;
    return f;
  }

  const VSAPI* api = nullptr;
  VSCore* core = nullptr;
  VSPlugin* tally = nullptr;
};

TEST_F(VsApiTest, RegistersTheFunctionsWithTheirSignatures) {
  EXPECT_STREQ(api->getPluginID(tally), "com.tallyburn.tally");
  std::vector<std::pair<std::string, std::string>> functions;
  for (VSPluginFunction* f = api->getNextPluginFunction(nullptr, tally); f; f = api->getNextPluginFunction(f, tally)) {
    functions.emplace_back(api->getPluginFunctionName(f), api->getPluginFunctionArguments(f));
    EXPECT_STREQ(api->getPluginFunctionReturnType(f), functions.back().first == "Sync" ? "clip:anode;" : "clip:vnode;");
  }
  std::sort(functions.begin(), functions.end());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Frame", "clip:vnode;start:int:opt;digits:int:opt;scale:int:opt;align:int:opt;margin:int:opt;"},
      {"Id", "clip:vnode;start:int:opt;align:int:opt;scale:int:opt;"},
      {"Sync", "clip:vnode;audio:anode:opt;period:float:opt;level:float:opt;"},
      {"TC", "clip:vnode;start:data:opt;rate:data:opt;drop:int:opt;scale:int:opt;align:int:opt;margin:int:opt;"},
      {"Text",
       "clip:vnode;text:data:opt;start:int:opt;tc_start:data:opt;rate:data:opt;drop:int:opt;size:int:opt;color:int:opt;"
       "opacity:float:opt;box_color:int:opt;box_opacity:float:opt;align:int:opt;margin:int:opt;white:data:opt;"},
  };
  EXPECT_EQ(functions, expected);
}

TEST_F(VsApiTest, AFormatNotDrawnGetsTheSourceNodeItself) {
  for (const int format : {pfYUV420P9, pfGray32, pfYUV410P8, pfRGB27}) {
    VSNode* src = Blank(format, 640, 480);
    for (const char* function : {"TC", "Frame", "Id"}) {
      VSNode* out = Tally(function, src);
      EXPECT_EQ(out, src) << function << " on format " << format;
      api->freeNode(out);
    }
    api->freeNode(src);
  }
}

TEST_F(VsApiTest, ADrawnFormatGetsAParallelFilterOverTheSource) {
  VSNode* src = Blank(pfYUV420P10, 640, 480);
  for (const char* function : {"TC", "Frame", "Id"}) {
    SCOPED_TRACE(function);
    VSNode* out = Tally(function, src);
    ASSERT_NE(out, src);
    EXPECT_STREQ(api->getNodeName(out), function);
    EXPECT_EQ(api->getNodeFilterMode(out), fmParallel);
    ASSERT_EQ(api->getNumNodeDependencies(out), 1);
    EXPECT_EQ(api->getNodeDependency(out, 0)->source, src);
    EXPECT_EQ(api->getNodeDependency(out, 0)->requestPattern, rpStrictSpatial);
    const VSVideoInfo& a = *api->getVideoInfo(src);
    const VSVideoInfo& b = *api->getVideoInfo(out);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "the clip's properties changed";
    api->freeNode(out);
  }
  api->freeNode(src);
}

// Every property of a frame: key, type and values.
std::vector<std::string> Properties(const VSAPI* api, const VSFrame* frame) {
  const VSMap* props = api->getFramePropertiesRO(frame);
  std::vector<std::string> all;
  for (int k = 0; k < api->mapNumKeys(props); ++k) {
    const char* key = api->mapGetKey(props, k);
    std::string s = std::string(key) + ":" + std::to_string(api->mapGetType(props, key)) + "=";
    for (int i = 0; i < api->mapNumElements(props, key); ++i) {
      switch (api->mapGetType(props, key)) {
        case ptInt: s += std::to_string(api->mapGetInt(props, key, i, nullptr)) + ","; break;
        case ptFloat: s += std::to_string(api->mapGetFloat(props, key, i, nullptr)) + ","; break;
        case ptData: s += std::string(api->mapGetData(props, key, i, nullptr)) + ","; break;
        default: s += "?,";
      }
    }
    all.push_back(std::move(s));
  }
  std::sort(all.begin(), all.end());
  return all;
}

TEST_F(VsApiTest, FramesKeepEveryPropertyAndLeaveTheSourceAsItWas) {
  VSMap* args = api->createMap();
  api->mapSetNode(args, "clip", Blank(pfRGB24, 640, 480), maReplace);
  api->freeNode(api->mapGetNode(args, "clip", 0, nullptr));  // the map's reference stays
  api->mapSetInt(args, "Scene", 37, maReplace);
  for (const double v : {0.25, -1.5}) api->mapSetFloat(args, "Levels", v, maAppend);
  api->mapSetData(args, "Source", "camera 2", -1, dtUtf8, maReplace);
  api->mapSetInt(args, "_Matrix", 1, maReplace);
  VSNode* src = NodeOf(Invoke("com.vapoursynth.std", "SetFrameProps", args));
  for (const char* function : {"TC", "Frame", "Id"}) {
    SCOPED_TRACE(function);
    VSNode* out = Tally(function, src);
    const VSFrame* before = FrameOf(src, 5);  // held, so the filter's frame cannot own its planes
    const VSFrame* drawn = FrameOf(out, 5);
    ASSERT_TRUE(before && drawn);
    EXPECT_EQ(Properties(api, drawn), Properties(api, before));
    EXPECT_GE(Properties(api, before).size(), 4u);
    for (int p = 0; p < 3; ++p) {
      const uint8_t* line = api->getReadPtr(before, p);
      const int value = p == 0 ? 81 : p == 1 ? 90 : 240;
      bool flat = true, drawn_in = false;
      for (int y = 0; y < api->getFrameHeight(before, p); ++y, line += api->getStride(before, p))
        for (int x = 0; x < api->getFrameWidth(before, p); ++x) flat = flat && line[x] == value;
      const uint8_t* out_line = api->getReadPtr(drawn, p);
      for (int y = 0; y < api->getFrameHeight(drawn, p); ++y, out_line += api->getStride(drawn, p))
        for (int x = 0; x < api->getFrameWidth(drawn, p); ++x) drawn_in = drawn_in || out_line[x] != value;
      EXPECT_TRUE(flat) << "the source frame was drawn into, plane " << p;
      EXPECT_TRUE(drawn_in) << "nothing drawn into plane " << p;
    }
    api->freeFrame(drawn);
    api->freeFrame(before);
    api->freeNode(out);
  }
  api->freeNode(src);
}

}  // namespace
}  // namespace tallyburn::testing

namespace tallyburn::testing {
namespace {

struct SyncCase {
  const char* name;
  int64_t fps_num, fps_den;
  int frames;
  int audio_rate;  // 0: no audio node
  std::vector<int> channels;
  int bits, sample_type;
  double period, level;
  int want_rate, want_channels, want_bits;
  sync::SampleType type;
};

void PrintTo(const SyncCase& c, std::ostream* os) { *os << c.name; }

class VsSyncTest : public VsApiTest, public ::testing::WithParamInterface<SyncCase> {};

// Every channel of every audio frame, read last to first, is the marks of
// the plan for the video's rate and length in the format planned.
TEST_P(VsSyncTest, AudioFramesAreTheMarks) {
  const SyncCase& c = GetParam();
  VSNode* video = Blank(pfYUV420P8, 64, 48);
  VSMap* args = api->createMap();
  api->mapSetNode(args, "clip", video, maReplace);
  api->mapSetInt(args, "fpsnum", c.fps_num, maReplace);
  api->mapSetInt(args, "fpsden", c.fps_den, maReplace);
  api->freeNode(video);
  video = NodeOf(Invoke("com.vapoursynth.std", "AssumeFPS", args));
  args = api->createMap();
  api->mapSetNode(args, "clip", video, maReplace);
  api->mapSetInt(args, "first", 0, maReplace);
  api->mapSetInt(args, "last", c.frames - 1, maReplace);
  api->freeNode(video);
  video = NodeOf(Invoke("com.vapoursynth.std", "Trim", args));

  args = api->createMap();
  api->mapSetNode(args, "clip", video, maReplace);
  if (c.audio_rate != 0) {
    VSMap* blank = api->createMap();
    for (const int ch : c.channels) api->mapSetInt(blank, "channels", ch, maAppend);
    api->mapSetInt(blank, "bits", c.bits, maReplace);
    api->mapSetInt(blank, "sampletype", c.sample_type, maReplace);
    api->mapSetInt(blank, "samplerate", c.audio_rate, maReplace);
    api->mapSetInt(blank, "length", 1000, maReplace);  // not the video's length: the marks take that
    VSMap* made = Invoke("com.vapoursynth.std", "BlankAudio", blank);
    int error = 0;
    VSNode* audio = api->mapGetNode(made, "clip", 0, &error);
    api->freeMap(made);
    api->mapSetNode(args, "audio", audio, maReplace);
    api->freeNode(audio);
  }
  api->mapSetFloat(args, "period", c.period, maReplace);
  api->mapSetFloat(args, "level", c.level, maReplace);
  VSMap* out = api->invoke(tally, "Sync", args);
  api->freeMap(args);
  ASSERT_EQ(api->mapGetError(out), nullptr) << api->mapGetError(out);
  int error = 0;
  VSNode* sound = api->mapGetNode(out, "clip", 0, &error);
  api->freeMap(out);
  ASSERT_NE(sound, nullptr);
  ASSERT_EQ(api->getNodeType(sound), mtAudio);

  sync::SyncRequest r;
  r.fps_num = static_cast<uint32_t>(c.fps_num);
  r.fps_den = static_cast<uint32_t>(c.fps_den);
  r.num_frames = c.frames;
  r.rate = c.audio_rate;
  r.channels = static_cast<int>(c.channels.size());
  r.period = c.period;
  r.level = c.level;
  const sync::SyncPlanResult plan = sync::PlanSync(r);
  ASSERT_TRUE(plan.plan) << plan.error;
  // The sound lasts as long as the video, whatever the audio node's length.
  sync::SyncPlan marks_plan = *plan.plan;
  const int64_t total = sync::SampleOfFrame(marks_plan, c.frames);
  marks_plan.samples = total;

  const VSAudioInfo& ai = *api->getAudioInfo(sound);
  EXPECT_EQ(ai.sampleRate, c.want_rate);
  EXPECT_EQ(ai.format.numChannels, c.want_channels);
  EXPECT_EQ(ai.format.bitsPerSample, c.want_bits);
  EXPECT_EQ(ai.numSamples, total);
  const int bytes = ai.format.bytesPerSample;
  std::vector<uint8_t> want(static_cast<size_t>(total) * bytes);
  sync::MarkGenerator(marks_plan).FillPlane(want.data(), 0, total, c.type);
  if (c.want_bits == 24)  // 24-bit samples in the low bits of 32-bit containers
    for (size_t i = 0; i < want.size(); i += 4) {
      int32_t v = 0;
      std::memcpy(&v, &want[i], 4);
      v >>= 8;
      std::memcpy(&want[i], &v, 4);
    }
  EXPECT_NE(std::count(want.begin(), want.end(), 0), static_cast<long>(want.size()));
  for (int n = ai.numFrames - 1; n >= 0; --n) {
    const VSFrame* frame = FrameOf(sound, n);
    ASSERT_NE(frame, nullptr);
    const int64_t first = int64_t{n} * VS_AUDIO_FRAME_SAMPLES;
    const int length = api->getFrameLength(frame);
    ASSERT_EQ(length, std::min<int64_t>(VS_AUDIO_FRAME_SAMPLES, total - first));
    for (int ch = 0; ch < ai.format.numChannels; ++ch)
      EXPECT_EQ(std::memcmp(api->getReadPtr(frame, ch), &want[static_cast<size_t>(first) * bytes],
                            static_cast<size_t>(length) * bytes),
                0)
          << "frame " << n << " channel " << ch;
    api->freeFrame(frame);
  }
  api->freeNode(sound);
  api->freeNode(video);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, VsSyncTest,
    ::testing::Values(
        SyncCase{"NoAudioGetsStereo48k16", 25, 1, 60, 0, {}, 0, 0, 1.0, -12.0, 48000, 2, 16, sync::SampleType::kInt16},
        SyncCase{"Ntsc24BitMono44k1",
                 30000,
                 1001,
                 95,
                 44100,
                 {acFrontCenter},
                 24,
                 stInteger,
                 1.0,
                 -6.0,
                 44100,
                 1,
                 24,
                 sync::SampleType::kInt32},
        SyncCase{"FilmFloatSixChannels",
                 24000,
                 1001,
                 80,
                 48000,
                 {0, 1, 2, 3, 4, 5},
                 32,
                 stFloat,
                 0.5,
                 -20.0,
                 48000,
                 6,
                 32,
                 sync::SampleType::kFloat},
        SyncCase{"Pal32Bit96k",
                 25,
                 1,
                 50,
                 96000,
                 {acFrontLeft, acFrontRight},
                 32,
                 stInteger,
                 0.25,
                 -3.0,
                 96000,
                 2,
                 32,
                 sync::SampleType::kInt32}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(VsApiTest, SyncRefusalsBeginWithItsName) {
  VSNode* video = Blank(pfYUV420P8, 64, 48);
  sync::SyncRequest r;
  const VSVideoInfo& vi = *api->getVideoInfo(video);
  r.fps_num = static_cast<uint32_t>(vi.fpsNum);
  r.fps_den = static_cast<uint32_t>(vi.fpsDen);
  r.num_frames = vi.numFrames;
  for (const double period : {0.0, 5000.0}) {
    VSMap* args = api->createMap();
    api->mapSetNode(args, "clip", video, maReplace);
    api->mapSetFloat(args, "period", period, maReplace);
    VSMap* out = api->invoke(tally, "Sync", args);
    api->freeMap(args);
    r.period = period;
    const std::string plan_error = sync::PlanSync(r).error;
    ASSERT_EQ(plan_error.rfind("TallySync: ", 0), 0u);
    ASSERT_NE(api->mapGetError(out), nullptr);
    EXPECT_EQ(std::string(api->mapGetError(out)), "Sync: " + plan_error.substr(11)) << period;
    api->freeMap(out);
  }
  api->freeNode(video);
}

}  // namespace
}  // namespace tallyburn::testing
