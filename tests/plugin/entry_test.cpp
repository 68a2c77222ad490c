// The plug-in as a host sees it: what its entry registers, how its
// factories read arguments, and that its filters pass the clip through.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tests/support/plugin_host.h"
#include "tests/support/readback.h"

namespace tallyburn::testing {
namespace {

using EntryTest = PluginHost;

TEST_F(EntryTest, RegistersEveryFunctionInOrderWithItsSignature) {
  const std::pair<std::string, std::string> expected[] = {
      {"Tallyburn", "c[offset]i[left]i"},
      {"FrameTC", "c[offset]i[orientation]i[y]i"},
      {"TallyTC", "c[start]s[rate]s[drop]b[scale]i[align]i[margin]i"},
      {"TallyFrame", "c[start]i[digits]i[scale]i[align]i[margin]i"},
      {"TallyId", "c[start]i[align]i[scale]i"},
      {"TallySync", "c[period]f[level]f"},
      {"TallyText",
       "c[text]s[start]i[tc_start]s[rate]s[drop]b[size]i[color]i[opacity]f[box_color]i[box_opacity]f[align]i[margin]i["
       "white]s"},
  };
  ASSERT_EQ(env.functions().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(env.functions()[i].name, expected[i].first);
    EXPECT_EQ(env.functions()[i].params, expected[i].second);
    EXPECT_EQ(env.functions()[i].user_data, nullptr);
  }
}

// The 2.5 entry, and the C and VapourSynth entries where the build found
// those hosts' headers.
TEST_F(EntryTest, ExportsOnlyTheEntries) {
  const std::string command = std::string("nm -D --defined-only '") + TALLYBURN_PLUGIN_PATH + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::vector<std::string> symbols;
  char line[512];
  while (std::fgets(line, sizeof line, pipe.get())) {
    std::string s(line);
    s.erase(s.find_last_not_of("\r\n") + 1);
    const size_t name = s.rfind(' ');
    symbols.push_back(s.substr(name + 1));
  }
  std::vector<std::string> expected = {"AvisynthPluginInit2"};
#ifdef TALLYBURN_HAVE_VAPOURSYNTH
  expected.push_back("VapourSynthPluginInit2");
#endif
#ifdef TALLYBURN_HAVE_AVISYNTH_C
  expected.push_back("avisynth_c_plugin_init");
#endif
  std::sort(symbols.begin(), symbols.end());
  EXPECT_EQ(symbols, expected);
}

TEST_F(EntryTest, OnlyTheClipGivesAllIntegersZero) {
  // Tallyburn: offset 0, right-aligned. FrameTC: offset 0, right, on the
  // bottom edge. 100 frames at 30 fps: frame 31 is 031 and 00:00:01:01.
  const PClip src = Source({.width = 640, .height = 480, .pixel_type = kRgb24, .fps_numerator = 30});
  const PVideoFrame number = env.FetchFrame(Apply("Tallyburn", {{"", src}}), 31);
  EXPECT_EQ(frameserver::ReadNumber(*number.get(), kRgb24, 3, false), "031");
  const PVideoFrame timecode = env.FetchFrame(Apply("FrameTC", {{"", src}}), 31);
  EXPECT_EQ(frameserver::ReadTimecode(*timecode.get(), kRgb24, 0, 0), "00000101");
}

TEST_F(EntryTest, NamedAndPositionalArgumentsGiveTheSameFilter) {
  const PClip src = Source({.pixel_type = kYv12, .fps_numerator = 30000, .fps_denominator = 1001});
  const PVideoFrame a = env.FetchFrame(Apply("Tallyburn", {{"", src}, {"", 5}, {"", 1}}), 3);
  const PVideoFrame b = env.FetchFrame(Apply("Tallyburn", {{"", src}, {"left", 1}, {"offset", 5}}), 3);
  EXPECT_TRUE(Differences(env, a, b).empty());
  EXPECT_EQ(frameserver::ReadNumber(*a.get(), kYv12, 3, true), "008");

  const PVideoFrame c = env.FetchFrame(Apply("FrameTC", {{"", src}, {"", 1800}, {"", 2}, {"", 10}}), 0);
  const PVideoFrame d =
      env.FetchFrame(Apply("FrameTC", {{"", src}, {"y", 10}, {"orientation", 2}, {"offset", 1800}}), 0);
  EXPECT_TRUE(Differences(env, c, d).empty());
  EXPECT_EQ(frameserver::ReadTimecode(*c.get(), kYv12, 2, 10), "00010002");
}

TEST_F(EntryTest, EachCallMakesItsOwnFilter) {
  const PClip src = Source({.pixel_type = kYuy2});
  const PClip a = Apply("Tallyburn", {{"", src}, {"offset", 0}});
  const PClip b = Apply("Tallyburn", {{"", src}, {"offset", 500}});
  ASSERT_NE(a.get(), b.get());
  EXPECT_EQ(RefCount(src.get()), 3);  // ours and one per filter
  // Interleaved requests: neither filter keeps anything between frames.
  for (const int n : {7, 2, 99, 0}) {
    const PVideoFrame fa = env.FetchFrame(a, n);
    const PVideoFrame fb = env.FetchFrame(b, n);
    EXPECT_EQ(frameserver::ReadNumber(*fa.get(), kYuy2, 3, false),
              std::string(3 - std::to_string(n).size(), '0') + std::to_string(n));
    EXPECT_EQ(frameserver::ReadNumber(*fb.get(), kYuy2, 3, false), std::to_string(500 + n));
  }
}

class PassThroughTest : public PluginHost, public ::testing::WithParamInterface<int> {};

TEST_P(PassThroughTest, VideoInfoAudioParityAndHintsAreTheSources) {
  const int pixel_type = GetParam();
  const PClip src = Source({.width = 320,
                            .height = 240,
                            .pixel_type = pixel_type,
                            .fps_numerator = 24000,
                            .fps_denominator = 1001,
                            .num_frames = 57,
                            .audio_rate = 44100,
                            .channels = 6});
  for (const char* function : {"Tallyburn", "FrameTC"}) {
    SCOPED_TRACE(function);
    const PClip f = Apply(function, {{"", src}});
    EXPECT_EQ(f->GetVersion(), 2);
    EXPECT_EQ(std::memcmp(&f->GetVideoInfo(), &src->GetVideoInfo(), sizeof(VideoInfo)), 0);
    for (const int n : {0, 1, 2, 56}) EXPECT_EQ(f->GetParity(n), src->GetParity(n));
    std::vector<uint8_t> got(1000 * 12, 0), want(1000 * 12, 1);
    f->GetAudio(got.data(), 12345, 1000, &env);
    src->GetAudio(want.data(), 12345, 1000, &env);
    EXPECT_EQ(got, want);
    EXPECT_EQ(f->SetCacheHints(1, 10), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, PassThroughTest, ::testing::Values(kRgb24, kRgb32, kYuy2, kYv12, kI420),
                         [](const auto& p) { return std::string(FormatName(p.param)); });

TEST_F(EntryTest, SourceIsReleasedWhenTheLastHandleGoes) {
  const int baseline = frameserver::SyntheticClip::live();
  {
    PClip src = Source({});
    PClip number = Apply("Tallyburn", {{"", src}});
    PClip timecode = Apply("FrameTC", {{"", number}});
    src = nullptr;
    number = nullptr;
    EXPECT_EQ(frameserver::SyntheticClip::live(), baseline + 1);  // still held by the chain
    env.FetchFrame(timecode, 3);
  }
  EXPECT_EQ(frameserver::SyntheticClip::live(), baseline);
}

TEST_F(EntryTest, FailedConstructionReleasesItsReferenceToTheSource) {
  const int baseline = frameserver::SyntheticClip::live();
  {
    const PClip src = Source({.width = 91, .height = 13});
    EXPECT_EQ(ErrorOf("FrameTC", {{"", src}}), "FrameTC: video is too small");
    EXPECT_EQ(ErrorOf("Tallyburn", {{"", src}, {"", 1000000000}}), "Tallyburn: video is too small");
    EXPECT_EQ(RefCount(src.get()), 1);
  }
  EXPECT_EQ(frameserver::SyntheticClip::live(), baseline);
}

// Hosts that count clip arguments differently: the plug-in takes an extra
// reference only where the host will release one too many, so every source
// is released exactly once whatever the host.
struct HostKind {
  const char* name;
  const char* version;  // "" : no VersionString()
  bool releases_twice;
};

class HostCountingTest : public PluginHost, public ::testing::WithParamInterface<HostKind> {};

TEST_P(HostCountingTest, EverySourceIsReleasedExactlyOnce) {
  env.set_identity(GetParam().version, GetParam().releases_twice);
  const int baseline = frameserver::SyntheticClip::live();
  {
    PClip src = Source({.pixel_type = kYv12, .fps_numerator = 30});
    PClip chain = Apply("FrameTC", {{"", Apply("Tallyburn", {{"", src}})}});
    EXPECT_EQ(RefCount(src.get()), 2);  // ours and the Tallyburn's
    EXPECT_EQ(ErrorOf("FrameTC", {{"", src}, {"y", -1}}), "FrameTC: y value is invalid");
    EXPECT_EQ(ErrorOf("FrameTC", {{"", chain}, {"orientation", 3}}),
              "FrameTC: Orientation value must be 0 (right), 1 (left) or 2 (center)");
    EXPECT_EQ(RefCount(src.get()), 2);
    EXPECT_EQ(RefCount(chain.get()), 1);
    src = nullptr;  // the chain alone holds the source now
    EXPECT_EQ(frameserver::SyntheticClip::live(), baseline + 1);
    EXPECT_EQ(frameserver::ReadTimecode(*env.FetchFrame(chain, 31).get(), kYv12, 0, 0), "00000101");
  }
  EXPECT_EQ(frameserver::SyntheticClip::live(), baseline);
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostCountingTest,
                         ::testing::Values(HostKind{"CountsRight", "", false},
                                           HostKind{"AviSynthPlusOnLinux", "AviSynth+ 3.7.5 (r4661, master, x86_64)",
                                                    true},
                                           HostKind{"ClassicVersionString", "AviSynth 2.60, build:Mar 31 2015", false}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(EntryTest, HostBindingErrorsNameTheFunctionAndArgument) {
  const PClip src = Source({});
  EXPECT_EQ(ErrorOf("Tallyburn", {{"", src}, {"offst", 1}}), "Tallyburn: no argument named \"offst\"");
  EXPECT_EQ(ErrorOf("FrameTC", {}), "FrameTC: missing argument 1 (a clip)");
  EXPECT_EQ(ErrorOf("Tallyburn", {{"", src}, {"", 1}, {"", 2}, {"", 3}}),
            "Tallyburn: too many arguments (takes at most 3)");
  EXPECT_EQ(ErrorOf("FrameTC", {{"", src}, {"y", "ten"}}), "FrameTC: argument \"y\" must be an integer, not a string");
}

}  // namespace
}  // namespace tallyburn::testing
