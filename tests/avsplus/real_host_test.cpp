// The built plug-in loaded into the real frame-server host with LoadPlugin,
// as users load it: what it registers, how it fails, that it passes the clip
// through, and that every frame the real host returns equals, byte for
// byte, what our own host returns for the same picture and arguments.
#include <cstdlib>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "core/pixel_format.h"
#include "tests/avsplus/real_host.h"
#include "tests/support/plugin_host.h"
#include "tests/support/text_box_reader.h"

namespace tallyburn::testing {
namespace {

class RealHostTest : public PluginHost {
 protected:
  void SetUp() override {
    const std::string missing = RealHost::Missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
  }
};

std::string Bars(const char* format, int w, int h, unsigned num = 30000, unsigned den = 1001);

TEST_F(RealHostTest, AbsentArgumentsAreZeroByPositionOrByName) {
  const std::string c = "c = " + Bars("YV12", 640, 480) + "\n";
  for (const auto& [absent, positional, named] :
       {std::tuple{"c.Tallyburn()", "c.Tallyburn(0, 0)", "c.Tallyburn(left=0, offset=0)"},
        std::tuple{"c.FrameTC()", "c.FrameTC(0, 0, 0)", "c.FrameTC(y=0, orientation=0, offset=0)"}}) {
    SCOPED_TRACE(absent);
    const std::vector<DumpedFrame> want = RealHost::Dump(c + absent, 1800, 1);
    ASSERT_EQ(want.size(), 1u);
    EXPECT_EQ(FirstDifference(want[0], RealHost::Dump(c + positional, 1800, 1).at(0)), "");
    EXPECT_EQ(FirstDifference(want[0], RealHost::Dump(c + named, 1800, 1).at(0)), "");
    EXPECT_NE(FirstDifference(want[0], RealHost::Dump(c + "c", 1800, 1).at(0)), "") << "nothing was drawn";
  }
}

TEST_F(RealHostTest, RefusalsCarryTheFiltersOwnMessages) {
  const struct {
    std::string script;
    const char* message;
  } cases[] = {
      {Bars("RGB24", 640, 13) + ".Tallyburn()", "Tallyburn: video is too small"},
      {Bars("RGB24", 91, 480) + ".FrameTC()", "FrameTC: video is too small"},
      {Bars("YV12", 640, 480) + ".FrameTC(y=467)", "FrameTC: y value is invalid"},
      {Bars("YUY2", 640, 480) + ".FrameTC(orientation=3)",
       "FrameTC: Orientation value must be 0 (right), 1 (left) or 2 (center)"},
      {Bars("YV12", 640, 480, 50, 1) + ".FrameTC()", "FrameTC: fps of the video must be 23.976, 24, 25, 29.97 or 30"},
  };
  for (const auto& c : cases) EXPECT_EQ(RealHostError(c.script), c.message) << c.script;
}

TEST_F(RealHostTest, ClipPropertiesAndAudioPassThrough) {
  for (const std::string& src : {Bars("YV12", 640, 480, 24000, 1001), Bars("RGB32", 201, 101, 25, 1) + ".Trim(0, 99)",
                                 std::string("BlankClip(length=57, width=320, height=240, pixel_type=\"YUY2\", fps=24, "
                                             "audio_rate=44100, channels=6, sample_type=\"float\")")}) {
    SCOPED_TRACE(src);
    const auto want = RealHost::Info(src);
    ASSERT_TRUE(want);
    for (const char* filter : {".Tallyburn()", ".FrameTC(orientation=2)", ".Tallyburn().FrameTC(5, 1, 3)"}) {
      const auto got = RealHost::Info(src + filter);
      ASSERT_TRUE(got) << filter;
      EXPECT_EQ(got->line, want->line) << filter;
    }
  }
}

// One comparison: a source of the real host, a call of one of our filters
// with the same arguments in both hosts, and the frames to compare.
struct SameBytesCase {
  std::string name;
  std::string source;  // a clip of the real host's own
  const char* function;
  std::vector<std::pair<std::string, AVSValue>> args;  // by name; strings are literals
};

void PrintTo(const SameBytesCase& c, std::ostream* os) { *os << c.name; }

std::string CallText(const SameBytesCase& c) {
  std::string s = std::string(c.function) + "(";
  for (size_t i = 0; i < c.args.size(); ++i) {
    const AVSValue& v = c.args[i].second;
    const std::string value = v.IsString() ? std::string("\"") + v.AsString() + "\""
                              : v.IsBool() ? (v.AsBool() ? "true" : "false")
                                           : std::to_string(v.AsInt());
    s += (i ? ", " : "") + c.args[i].first + "=" + value;
  }
  return s + ")";
}

class SameBytesTest : public RealHostTest, public ::testing::WithParamInterface<SameBytesCase> {};

TEST_P(SameBytesTest, RealHostFramesEqualOurHostsFrames) {
  const SameBytesCase& c = GetParam();
  const auto info = RealHost::Info(c.source);
  ASSERT_TRUE(info);
  const std::vector<DumpedFrame> picture = RealHost::Dump(c.source, 0, 1);
  ASSERT_EQ(picture.size(), 1u);

  // Frames spread over the clip: both ends, minute and ten-minute marks.
  const std::vector<int> frames = {0, 1, 1799, 1800, 17982, 107891};
  std::string selected = "f = " + c.source + "." + CallText(c) + "\n";
  for (size_t i = 0; i < frames.size(); ++i)
    selected += (i ? " + " : "") + std::string("f.Trim(") + std::to_string(frames[i]) + ", -1)";
  const std::vector<DumpedFrame> want = RealHost::Dump(selected, 0, static_cast<int>(frames.size()));
  ASSERT_EQ(want.size(), frames.size());

  std::vector<Argument> args = {{"", PictureClip(env, info->vi, picture[0])}};
  for (const auto& [name, value] : c.args) args.push_back({name, value});
  const PClip ours = Apply(c.function, args);
  for (size_t i = 0; i < frames.size(); ++i) {
    const DumpedFrame got = AsDumped(env, env.FetchFrame(ours, frames[i]), frames[i], info->vi);
    DumpedFrame expected = want[i];
    expected.n = frames[i];
    EXPECT_EQ(FirstDifference(expected, got), "") << CallText(c) << " at frame " << frames[i];
    DumpedFrame source = picture[0];
    source.n = frames[i];
    EXPECT_NE(FirstDifference(source, got), "") << CallText(c) << " drew nothing at frame " << frames[i];
  }
}

std::string Bars(const char* format, int w, int h, unsigned num, unsigned den) {
  return "ColorBars(" + std::to_string(w) + ", " + std::to_string(h) + ", pixel_type=\"" + format + "\").AssumeFPS(" +
         std::to_string(num) + ", " + std::to_string(den) + ")";
}

SameBytesCase Classic(const char* format, int w, int h, unsigned num, unsigned den, const char* function,
                      std::vector<std::pair<std::string, AVSValue>> args) {
  std::string name = std::string(format) + "_" + std::to_string(w) + "x" + std::to_string(h) + "_" + function;
  for (const auto& [arg, value] : args)
    name += "_" + arg + (value.AsInt() < 0 ? "M" : "") + std::to_string(std::abs(value.AsInt()));
  return {name, Bars(format, w, h, num, den), function, std::move(args)};
}

// The real host's sources make no I420 clip: I420 is drawn as YV12, and our
// own host's tests cover it.
INSTANTIATE_TEST_SUITE_P(
    Classic, SameBytesTest,
    ::testing::Values(
        Classic("YV12", 640, 480, 30000, 1001, "FrameTC", {}),
        Classic("YV12", 640, 480, 30000, 1001, "FrameTC", {{"offset", 107892}, {"orientation", 2}, {"y", 20}}),
        Classic("YV12", 176, 144, 30000, 1001, "FrameTC", {{"offset", 17982}, {"orientation", 2}, {"y", 7}}),
        Classic("YV12", 640, 480, 30000, 1001, "Tallyburn", {}),
        Classic("YV12", 640, 480, 30000, 1001, "Tallyburn", {{"offset", -10}, {"left", 1}}),
        Classic("YV12", 202, 32, 25, 1, "FrameTC", {{"orientation", 1}, {"y", 18}}),
        Classic("YV12", 202, 32, 25, 1, "Tallyburn", {{"offset", 5}}),
        Classic("YUY2", 320, 240, 24000, 1001, "FrameTC", {{"orientation", 2}, {"y", 3}}),
        Classic("YUY2", 320, 240, 24000, 1001, "Tallyburn", {{"left", 1}}),
        Classic("RGB24", 201, 101, 24, 1, "FrameTC", {{"orientation", 2}, {"y", 87}}),
        Classic("RGB24", 201, 101, 24, 1, "Tallyburn", {}), Classic("RGB32", 92, 14, 30, 1, "FrameTC", {}),
        Classic("RGB32", 122, 14, 30, 1, "Tallyburn", {{"offset", 2000000000}, {"left", 1}})),
    [](const auto& p) { return p.param.name; });

// The current filters in every format the real host makes: its own bars,
// in the format as it stores it.
std::vector<SameBytesCase> EveryFormat() {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  std::vector<SameBytesCase> cases;
  for (const PixelFormat& f : std::vector<PixelFormat>(all, all + count)) {
    if (f.pixel_type == VideoInfo::CS_I420) continue;
    std::string source;
    if (f.family == Family::kGrey) {
      const std::string depth = f.bits == 32 ? "S" : std::to_string(f.bits);
      source = "ColorBars(580, 242, pixel_type=\"YUV444P" + depth + "\").ConvertToY()";
    } else {
      source = std::string("ColorBars(580, 242, pixel_type=\"") + f.name + "\")";
    }
    cases.push_back({std::string(f.name) + "_TallyTC",
                     source,
                     "TallyTC",
                     {{"start", "00:59:59;28"}, {"scale", 2}, {"align", 5}, {"margin", 3}}});
    cases.push_back({std::string(f.name) + "_TallyFrame",
                     source + ".AssumeFPS(50, 1)",
                     "TallyFrame",
                     {{"start", -3}, {"align", 7}, {"margin", 1}}});
    cases.push_back({std::string(f.name) + "_TallyId", source, "TallyId", {{"start", 7}, {"align", 5}}});
    // Coloured text over a box that lets the bars through: blending and the
    // matrix, not only levels.
    cases.push_back({std::string(f.name) + "_TallyText",
                     source,
                     "TallyText",
                     {{"text", "Reel {tc} {frame:6}"}, {"size", 20}, {"color", 0xFFC000}, {"box_color", 0x2040A0}}});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Current, SameBytesTest, ::testing::ValuesIn(EveryFormat()),
                         [](const auto& p) { return p.param.name; });

// Today's material from one-line scripts: a readable, rightly labelled box
// at the automatic scale, read off the real host's frame.
TEST_F(RealHostTest, OneLineScriptsForTodaysMaterial) {
  const struct {
    const char* script;
    int width, height, scale, cells, n;
    const char* text;
  } cases[] = {
      {"ColorBars(1920, 1080, pixel_type=\"YV12\").AssumeFPS(50, 1).TallyTC(start=\"10:00:00:00\")", 1920, 1080, 3, 11,
       1234, "10:00:24:34"},
      {"ColorBars(3840, 2160, pixel_type=\"YUV422P10\").AssumeFPS(60000, 1001).TallyTC()", 3840, 2160, 6, 11, 3600,
       "00:01:00;04"},
      {"ColorBars(1280, 720, pixel_type=\"YV12\").AssumeFPS(24000, 1001).TallyTC()", 1280, 720, 2, 11, 1001,
       "00:00:41:17"},
      {"ColorBars(1280, 720, pixel_type=\"RGB32\").AssumeFPS(24000, 1001).TallyFrame()", 1280, 720, 2, 6, 1001,
       "001001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const auto info = RealHost::Info(c.script);
    ASSERT_TRUE(info);
    const std::vector<DumpedFrame> dumped = RealHost::Dump(c.script, c.n, 1);
    ASSERT_EQ(dumped.size(), 1u);
    const PixelFormat f = *DescribePixelType(info->vi.pixel_type);
    const PVideoFrame frame = env.FetchFrame(PictureClip(env, info->vi, dumped[0]), 0);
    const int align = std::string(c.script).find("TallyFrame") != std::string::npos ? 3 : 2;
    EXPECT_EQ(ReadBox(env, frame, f, WhereBoxGoes(f, c.width, c.height, c.cells, c.scale, align, 0)), c.text);
  }
}

// Formats of a current host that the classic pair does not draw: every
// byte comes back as it went in.
struct NewerFormat {
  const char* name;
  const char* source;
};

class NewerFormatTest : public RealHostTest, public ::testing::WithParamInterface<NewerFormat> {};

TEST_P(NewerFormatTest, ComesBackUnchanged) {
  const std::string src = GetParam().source;
  const std::vector<DumpedFrame> want = RealHost::Dump(src, 100, 1);
  ASSERT_EQ(want.size(), 1u);
  for (const char* filter : {".Tallyburn()", ".FrameTC(orientation=2, y=8)", ".Tallyburn(left=1).FrameTC()"}) {
    const std::vector<DumpedFrame> got = RealHost::Dump(src + filter, 100, 1);
    ASSERT_EQ(got.size(), 1u) << filter;
    EXPECT_EQ(FirstDifference(want[0], got[0]), "") << filter;
  }
}

#define TALLYBURN_BARS(type) \
  NewerFormat { type, "ColorBars(320, 240, pixel_type=\"" type "\")" }
INSTANTIATE_TEST_SUITE_P(Current, NewerFormatTest,
                         ::testing::Values(TALLYBURN_BARS("YV16"), TALLYBURN_BARS("YV24"), TALLYBURN_BARS("YV411"),
                                           NewerFormat{"Y8", "ColorBars(320, 240, pixel_type=\"YV12\").ConvertToY8()"},
                                           TALLYBURN_BARS("YUV420P10"), TALLYBURN_BARS("YUV422P16"),
                                           TALLYBURN_BARS("YUV444P12"), TALLYBURN_BARS("YUV420PS"),
                                           TALLYBURN_BARS("YUVA420P10"), TALLYBURN_BARS("RGB48"),
                                           TALLYBURN_BARS("RGB64"), TALLYBURN_BARS("RGBP8"), TALLYBURN_BARS("RGBP10"),
                                           TALLYBURN_BARS("RGBAP16")),
                         [](const auto& p) { return std::string(p.param.name); });
#undef TALLYBURN_BARS

}  // namespace
}  // namespace tallyburn::testing
