// The plug-in in the real VapourSynth core, seen through the core's own API
// in this process: what the probe's output cannot show. The functions and
// their signatures as registered, the source node itself handed back for a
// format not drawn, a parallel filter over it otherwise, every frame
// property kept and the source's frames left as they were.
#define VS_USE_API_41  // node inspection, which the plug-in itself does not use
#include <dlfcn.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "VapourSynth4.h"
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

TEST_F(VsApiTest, RegistersTheThreeFunctionsWithTheirSignatures) {
  EXPECT_STREQ(api->getPluginID(tally), "com.tallyburn.tally");
  std::vector<std::pair<std::string, std::string>> functions;
  for (VSPluginFunction* f = api->getNextPluginFunction(nullptr, tally); f; f = api->getNextPluginFunction(f, tally)) {
    functions.emplace_back(api->getPluginFunctionName(f), api->getPluginFunctionArguments(f));
    EXPECT_STREQ(api->getPluginFunctionReturnType(f), "clip:vnode;");
  }
  std::sort(functions.begin(), functions.end());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Frame", "clip:vnode;start:int:opt;digits:int:opt;scale:int:opt;align:int:opt;margin:int:opt;"},
      {"Id", "clip:vnode;start:int:opt;align:int:opt;scale:int:opt;"},
      {"TC", "clip:vnode;start:data:opt;rate:data:opt;drop:int:opt;scale:int:opt;align:int:opt;margin:int:opt;"},
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
