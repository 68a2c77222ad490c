// The built plug-in loaded into the real VapourSynth core with
// std.LoadPlugin, as users load it: defaults by name, its messages, the
// clips it refuses and how, frame properties kept, formats it does not draw
// handed back untouched, and every format it draws giving, byte for byte,
// the picture AviSynth+ gives for the same format through the 2.5 door.
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/pixel_format.h"
#include "tests/support/plugin_host.h"
#include "tests/support/text_box_reader.h"
#include "tests/vapoursynth/vs_host.h"

namespace tallyburn::testing {
namespace {

class VsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = VsHost::Missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
  }
};

std::string Blank(const std::string& format, int w, int h, int length = 107892, int num = 30000, int den = 1001,
                  const std::string& color = "") {
  return "std.BlankClip(width=" + std::to_string(w) + ", height=" + std::to_string(h) + ", format=" + format +
         ", length=" + std::to_string(length) + ", fpsnum=" + std::to_string(num) + ", fpsden=" + std::to_string(den) +
         (color.empty() ? "" : ", color=" + color) + ")";
}

// The message frame n fails with, or "" when it comes.
std::string FrameError(const std::string& chain, int n) {
  std::vector<std::string> args = VsHost::ProbeArgs("dump", chain);
  args.push_back(std::to_string(n));
  args.push_back("1");
  const ProcessResult r = RunProcess(args);
  return r.out.rfind("error: ", 0) == 0 ? r.out.substr(7, r.out.find('\n') - 7) : r.status == 0 ? "" : r.err;
}

// One frame, which must come.
DumpedFrame Frame(const std::string& chain, int n) {
  std::vector<DumpedFrame> frames = VsHost::Dump(chain, n, 1);
  return frames.empty() ? DumpedFrame{} : std::move(frames[0]);
}

TEST_F(VsTest, AbsentArgumentsAreTheDefaultsByName) {
  const std::string src = Blank("YUV420P8", 640, 480, 107892, 30000, 1001, "[81, 90, 240]");
  for (const auto& [absent, named] : {
           std::pair{"tally.TC()", "tally.TC(start=\"00:00:00:00\", rate=\"\", drop=1, scale=0, align=2, margin=0)"},
           std::pair{"tally.Frame()", "tally.Frame(start=0, digits=0, scale=0, align=3, margin=0)"},
           std::pair{"tally.Id()", "tally.Id(start=0, align=8, scale=0)"},
       }) {
    SCOPED_TRACE(absent);
    const DumpedFrame want = Frame(src + " | " + absent, 1800);
    EXPECT_EQ(FirstDifference(want, Frame(src + " | " + named, 1800)), "");
    EXPECT_NE(FirstDifference(want, Frame(src, 1800)), "") << "nothing was drawn";
  }
}

TEST_F(VsTest, RefusalsSayWhatToDoInTheFunctionsOwnName) {
  const std::string yuv = Blank("YUV420P8", 640, 480);
  const struct {
    std::string chain;
    const char* message;
  } cases[] = {
      // The core's checks, in VapourSynth's names.
      {yuv + " | tally.TC(rate=\"12\")",
       "TC: rate \"12\" is not a timecode rate: 23.976, 24, 25, 29.97, 30, 47.952, 48, 50, 59.94, 60, 100, 119.88 or "
       "120"},
      {yuv + " | tally.TC(start=\"00:01:00;00\")",
       "TC: start \"00:01:00;00\" is not a label at 29.97 drop-frame: drop-frame skips frames 0 to 1 at the start "
       "of every minute not divisible by ten"},
      {Blank("YUV420P8", 640, 480, 100, 25, 1) + " | tally.TC(drop=1)", "TC: drop-frame is not defined at 25 fps"},
      {Blank("YUV420P8", 640, 480, 100, 12, 1) + " | tally.TC()",
       "TC: the clip's rate, 12 fps (12/1), is not a timecode rate: give the timecode rate with rate=, such as "
       "rate=\"25\" (23.976, 24, 25, 29.97, 30, 47.952, 48, 50, 59.94, 60, 100, 119.88 or 120)"},
      {yuv + " | tally.Frame(digits=99)", "Frame: digits must be 0 (as many as the last number needs) to 10, not 99"},
      {yuv + " | tally.Frame(scale=65)", "Frame: scale must be 0 (automatic) to 64, not 65"},
      {yuv + " | tally.Frame(margin=-1)", "Frame: margin must be 0 or more, not -1"},
      {yuv + " | tally.Id(start=-1)", "Id: start must be 0 or more, not -1"},
      {Blank("RGB24", 320, 72) + " | tally.Id(scale=1)",
       "Id: the strip at scale 1 (560x32) does not fit the 320x72 frame"},
      {yuv + " | tally.Id(align=0)", "Id: align must be 1 to 9 (as on a numeric keypad), not 0"},
      // What only VapourSynth hands a filter.
      {"std.BlankClip(width=640, height=480, format=YUV420P8, length=10, varformat=true) | tally.Frame()",
       "Frame: the clip's format varies from frame to frame: give it one format first, such as with "
       "resize.Point(format=vs.YUV420P8)"},
      {"std.BlankClip(width=640, height=480, format=YUV420P8, length=10, varsize=true) | tally.Id()",
       "Id: the clip's frame size varies from frame to frame: give it one size first, such as with "
       "resize.Point(width=1920, height=1080)"},
      {Blank("YUV422PH", 640, 480) + " | tally.TC()",
       "TC: the clip is YUV422PH, half-float, which is not drawn: convert it to 32-bit float first, such as with "
       "resize.Point(format=vs.YUV422PS)"},
      {Blank("GRAYH", 640, 480) + " | tally.Frame()",
       "Frame: the clip is GrayH, half-float, which is not drawn: convert it to 32-bit float first, such as with "
       "resize.Point(format=vs.GrayS)"},
      {Blank("RGBH", 640, 480) + " | tally.Id()",
       "Id: the clip is RGBH, half-float, which is not drawn: convert it to 32-bit float first, such as with "
       "resize.Point(format=vs.RGBS)"},
      {Blank("YUV420P8", 640, 480, 100, 0, 1) + " | tally.TC()",
       "TC: the clip has no frame rate (it varies from frame to frame): give the timecode rate with rate=, such as "
       "rate=\"25\", or give the clip one with std.AssumeFPS"},
      {yuv + " | tally.TC(drop=2)", "TC: drop must be 0 or 1 (False or True), not 2"},
      {yuv + " | tally.Frame(start=2147483648)", "Frame: start must be from -2147483648 to 2147483647, not 2147483648"},
      {yuv + " | tally.Id(scale=-4294967296)", "Id: scale must be from -2147483648 to 2147483647, not -4294967296"},
  };
  for (const auto& c : cases) EXPECT_EQ(VsError(c.chain), c.message) << c.chain;
}

TEST_F(VsTest, WhatTheMessagesAdviseWorks) {
  // No rate: give one to TC, or to the clip.
  const DumpedFrame want = Frame(Blank("YUV420P8", 640, 480, 100, 25, 1) + " | tally.TC()", 60);
  EXPECT_EQ(FirstDifference(want, Frame(Blank("YUV420P8", 640, 480, 100, 0, 1) + " | tally.TC(rate=\"25\")", 60)), "");
  EXPECT_EQ(FirstDifference(want, Frame(Blank("YUV420P8", 640, 480, 100, 0, 1) +
                                            " | std.AssumeFPS(fpsnum=25, fpsden=1) | tally.TC()",
                                        60)),
            "");
  // A half-float clip converted to 32-bit float.
  EXPECT_EQ(VsError(Blank("RGBH", 640, 480, 100) + " | resize.Point(format=RGBS) | tally.TC()"), "");
}

// tally.Text's white follows each frame's _Transfer: BT.2408's graphics
// white (203 cd/m²) is 58% of PQ's signal and 75% of HLG's, `white` gives
// another level or the peak; other frames take white at 100%. Luma of the
// text where it covers pixels whole, 10-bit (64 + signal x 876).
TEST_F(VsTest, TextWhiteFollowsTheFramesTransfer) {
  const std::string src = Blank("YUV444P10", 640, 360, 10, 25, 1, "[64, 512, 512]");
  const struct {
    const char* props;
    const char* white;
    int luma;
  } cases[] = {
      {"", "", 940},
      {" | std.SetFrameProps(_Transfer=1)", "", 940},   // BT.709
      {" | std.SetFrameProps(_Transfer=16)", "", 573},  // PQ, 0.5807
      {" | std.SetFrameProps(_Transfer=18)", "", 721},  // HLG, 0.7499
      {" | std.SetFrameProps(_Transfer=16)", ", white=\"peak\"", 940},
      {" | std.SetFrameProps(_Transfer=16)", ", white=\"100\"", 509},  // PQ, 0.5081
      {" | std.SetFrameProps(_Transfer=18)", ", white=\"1000\"", 940},
  };
  for (const auto& c : cases) {
    const std::string chain =
        src + c.props + " | tally.Text(text=\"IIII\", size=48, box_opacity=1.0, align=7, margin=0" + c.white + ")";
    SCOPED_TRACE(chain);
    const DumpedFrame frame = Frame(chain, 3);
    ASSERT_FALSE(frame.planes.empty());
    int high = 0;
    const std::string& luma = frame.planes[0].bytes;
    for (size_t i = 0; i + 1 < luma.size(); i += 2)
      high = std::max(high, static_cast<uint8_t>(luma[i]) | static_cast<uint8_t>(luma[i + 1]) << 8);
    EXPECT_EQ(high, c.luma);
  }
  EXPECT_EQ(FrameError(src + " | tally.Text(text=\"x\", white=\"bright\")", 0),
            "Text: white must be \"peak\" or a level from 1 to 10000 cd/m², such as \"203\" (BT.2408's graphics "
            "white, the default), not \"bright\"");
}

TEST_F(VsTest, EveryFramePropertyOfTheSourceIsKept) {
  // The host's converter reads the matrix and the range from each frame:
  // set before our filters, they must still be there after them.
  const std::string src = Blank("YUV444P8", 640, 480, 100, 25, 1, "[100, 50, 200]");
  const std::string props = " | std.SetFrameProps(_Matrix=1, _ColorRange=0)";
  const std::string to_rgb = " | resize.Point(format=RGB24)";
  for (const char* filter : {" | tally.TC()", " | tally.Frame(align=5)", " | tally.Id()"}) {
    SCOPED_TRACE(filter);
    const DumpedFrame want = Frame(src + filter + props + to_rgb, 7);
    EXPECT_EQ(FirstDifference(want, Frame(src + props + filter + to_rgb, 7)), "");
    EXPECT_NE(FirstDifference(want, Frame(src + " | std.SetFrameProps(_Matrix=1)" + filter + to_rgb, 7)), "")
        << "the range property changes nothing here";
    // Field order, which std.SeparateFields takes from the frames.
    EXPECT_EQ(FrameError(src + " | std.SetFrameProps(_FieldBased=2)" + filter + " | std.SeparateFields()", 7), "");
  }
  EXPECT_EQ(FrameError(src + " | std.SeparateFields()", 7), "SeparateFields: no field order provided");
}

// Formats outside our table come back as they went in: the same clip and
// the same bytes.
class VsPassThroughTest : public VsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(VsPassThroughTest, ComesBackUnchanged) {
  const std::string src = Blank(GetParam(), 640, 480, 200, 25, 1);
  const auto info = VsHost::Info(src);
  ASSERT_TRUE(info);
  const DumpedFrame want = Frame(src, 100);
  for (const char* filter : {" | tally.TC()", " | tally.Frame(align=5)", " | tally.Id(scale=1)"}) {
    SCOPED_TRACE(filter);
    EXPECT_EQ(VsHost::Info(src + filter), info);
    EXPECT_EQ(FirstDifference(want, Frame(src + filter, 100)), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Vs, VsPassThroughTest,
                         ::testing::Values("GRAY9", "GRAY32", "YUV410P8", "YUV440P8", "YUV420P9", "YUV444P9", "RGB27"));

// One comparison: a format by its names in both hosts, one flat colour in
// both (each host's BlankClip stores the same values), one of our functions
// with the same arguments in both.
struct SameBytesCase {
  std::string name;
  std::string vs_format;
  PixelFormat format;  // our table's entry: its name is AviSynth's
  std::string color;   // "[a, b, c]": Y U V, or R G B in both hosts
  const char* vs_function;
  const char* avs_function;
  std::string args;  // name=value, the same text in both
  int num, den;
};

void PrintTo(const SameBytesCase& c, std::ostream* os) { *os << c.name; }

class VsSameBytesTest : public VsTest, public ::testing::WithParamInterface<SameBytesCase> {
 protected:
  void SetUp() override {
    VsTest::SetUp();
    if (IsSkipped()) return;
    const std::string missing = RealHost::Missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
  }
};

TEST_P(VsSameBytesTest, FramesEqualAvisynthsThroughThe25Door) {
  const SameBytesCase& c = GetParam();
  constexpr int kLength = 107892;
  const int w = 580, h = 242;
  const std::string vs_src = Blank(c.vs_format, w, h, kLength, c.num, c.den, c.color);
  const std::string avs_src = "BlankClip(length=" + std::to_string(kLength) + ", width=" + std::to_string(w) +
                              ", height=" + std::to_string(h) + ", pixel_type=\"" + c.format.name +
                              "\", fps=" + std::to_string(c.num) + ", fps_denominator=" + std::to_string(c.den) +
                              ", colors=" + c.color + ")";
  const bool rgb = c.format.rgb();
  // The same picture goes in.
  const std::vector<DumpedFrame> avs_in = RealHost::Dump(avs_src, 0, 1);
  ASSERT_EQ(avs_in.size(), 1u);
  DumpedFrame vs_in = InAvisynthPlaneOrder(Frame(vs_src, 0), rgb);
  vs_in.pixel_type = avs_in[0].pixel_type;
  ASSERT_EQ(FirstDifference(avs_in[0], vs_in), "") << "the hosts' sources differ";

  // Frames spread over the clip: both ends, minute and ten-minute marks.
  const std::vector<int> frames = {0, 1, 1799, 1800, 17982, 107891};
  std::string offsets, trims;
  for (size_t i = 0; i < frames.size(); ++i) {
    offsets += (i ? ", " : "") + std::to_string(frames[i]);
    trims += (i ? " + " : "") + std::string("f.Trim(") + std::to_string(frames[i]) + ", -1)";
  }
  const std::vector<DumpedFrame> want = RealHost::Dump(
      "f = " + avs_src + "." + c.avs_function + "(" + c.args + ")\n" + trims, 0, static_cast<int>(frames.size()));
  const std::vector<DumpedFrame> got =
      VsHost::Dump(vs_src + " | tally." + c.vs_function + "(" + c.args +
                       ") | std.SelectEvery(cycle=" + std::to_string(kLength) + ", offsets=[" + offsets + "])",
                   0, static_cast<int>(frames.size()));
  ASSERT_EQ(want.size(), frames.size());
  ASSERT_EQ(got.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    DumpedFrame ours = InAvisynthPlaneOrder(got[i], rgb);
    ours.pixel_type = want[i].pixel_type;
    EXPECT_EQ(FirstDifference(want[i], ours), "") << c.vs_function << "(" << c.args << ") at frame " << frames[i];
    EXPECT_NE(FirstDifference(avs_in[0], ours), "") << "nothing drawn at frame " << frames[i];
  }
}

// Every constant VapourSynth format our table draws, by the name each host
// gives it: Gray8 and Y8, YUV420P8 and YV12, RGB24 (planar) and RGBP8, ...
std::vector<std::pair<std::string, PixelFormat>> DrawnFormats() {
  const std::map<Family, const char*> family = {
      {Family::kGrey, "GRAY"}, {Family::kPlanarYuv, "YUV"}, {Family::kPlanarRgb, "RGB"}};
  const std::map<int, const char*> rgb_bits = {{8, "24"}, {10, "30"}, {12, "36"}, {14, "42"}, {16, "48"}, {32, "S"}};
  const std::map<std::pair<int, int>, const char*> subsampling = {
      {{1, 1}, "420"}, {{1, 0}, "422"}, {{0, 0}, "444"}, {{2, 0}, "411"}};
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  std::vector<std::pair<std::string, PixelFormat>> formats;
  for (const PixelFormat& f : std::vector<PixelFormat>(all, all + count)) {
    if (f.alpha || !family.count(f.family) || f.pixel_type == static_cast<int>(0xA0000010u)) continue;  // I420
    const std::string depth = f.bits == 32 ? "S" : std::to_string(f.bits);
    std::string name = family.at(f.family);
    if (f.family == Family::kGrey) name += depth;
    if (f.family == Family::kPlanarYuv)
      name += std::string(subsampling.at({f.log2_chroma_w, f.log2_chroma_h})) + "P" + depth;
    if (f.family == Family::kPlanarRgb) name += rgb_bits.at(f.bits);
    formats.emplace_back(name, f);
  }
  return formats;
}

std::string FlatColor(const PixelFormat& f) {
  if (f.sample == SampleType::kF32)
    return f.rgb() ? "[0.25, 0.5, 0.75]" : f.family == Family::kGrey ? "[0.3]" : "[0.3, -0.2, 0.1]";
  const int shift = f.bits - 8;
  const auto v = [&](int x) { return std::to_string(x << shift); };
  return f.family == Family::kGrey ? "[" + v(81) + "]" : "[" + v(81) + ", " + v(90) + ", " + v(240) + "]";
}

std::vector<SameBytesCase> EveryFormat() {
  std::vector<SameBytesCase> cases;
  for (const auto& [vs, f] : DrawnFormats()) {
    const std::string color = FlatColor(f);
    cases.push_back(
        {vs + "_TC", vs, f, color, "TC", "TallyTC", "start=\"00:59:59;28\", scale=2, align=5, margin=3", 30000, 1001});
    cases.push_back({vs + "_Frame", vs, f, color, "Frame", "TallyFrame", "start=-3, align=7, margin=1", 50, 1});
    cases.push_back({vs + "_Id", vs, f, color, "Id", "TallyId", "start=7, align=5", 30000, 1001});
    // Coloured text half over the picture: blending, the matrix and the
    // planes' order, not only levels.
    cases.push_back({vs + "_Text", vs, f, color, "Text", "TallyText",
                     "text=\"Reel {tc} {frame:6}\", size=20, color=16760832, box_color=2113696, box_opacity=0.5", 30000,
                     1001});
  }
  // Arguments that take other paths: another rate than the clip's, a
  // larger box, padded digits, a strip at a scale given.
  const PixelFormat yv12 = *FindPixelFormat(Family::kPlanarYuv, 8, 1, 1);
  cases.push_back({"YUV420P8_TC_rate", "YUV420P8", yv12, "[81, 90, 240]", "TC", "TallyTC",
                   "rate=\"24\", start=\"01:00:00:00\", align=1", 25, 1});
  cases.push_back({"YUV420P8_TC_scale", "YUV420P8", yv12, "[81, 90, 240]", "TC", "TallyTC", "scale=3, align=9", 60, 1});
  cases.push_back(
      {"YUV420P8_Frame_digits", "YUV420P8", yv12, "[81, 90, 240]", "Frame", "TallyFrame", "digits=9, scale=1", 24, 1});
  cases.push_back({"YUV420P8_Text_outline", "YUV420P8", yv12, "[81, 90, 240]", "Text", "TallyText",
                   "text=\"A001C003\", box_opacity=0.0, align=7, margin=0", 24, 1});
  cases.push_back({"YUV420P8_Id_scale", "YUV420P8", yv12, "[81, 90, 240]", "Id", "TallyId", "scale=1, align=2", 24, 1});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Vs, VsSameBytesTest, ::testing::ValuesIn(EveryFormat()),
                         [](const auto& p) { return p.param.name; });

// The boxes read back off VapourSynth's own frames, without AviSynth+.
class VsReadBackTest : public PluginHost {
 protected:
  void SetUp() override {
    const std::string missing = VsHost::Missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
  }
};

TEST_F(VsReadBackTest, TodaysMaterialShowsTheRightLabels) {
  const struct {
    std::string chain;
    PixelFormat format;
    int width, height, num, den, scale, cells, align, n;
    const char* text;
  } cases[] = {
      {Blank("YUV420P8", 1920, 1080, 2000, 50, 1) + " | tally.TC(start=\"10:00:00:00\")",
       *FindPixelFormat(Family::kPlanarYuv, 8, 1, 1), 1920, 1080, 50, 1, 3, 11, 2, 1234, "10:00:24:34"},
      {Blank("YUV422P10", 3840, 2160, 4000, 60000, 1001) + " | tally.TC()",
       *FindPixelFormat(Family::kPlanarYuv, 10, 1, 0), 3840, 2160, 60000, 1001, 6, 11, 2, 3600, "00:01:00;04"},
      {Blank("RGB24", 1280, 720, 107892, 24000, 1001) + " | tally.Frame()",
       *FindPixelFormat(Family::kPlanarRgb, 8, 0, 0), 1280, 720, 24000, 1001, 2, 6, 3, 1001, "001001"},
      {Blank("GRAYS", 640, 480, 100, 25, 1) + " | tally.Frame(start=-50, align=7)",
       *FindPixelFormat(Family::kGrey, 32, 0, 0), 640, 480, 25, 1, 1, 3, 7, 7, "-43"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chain);
    VideoInfo vi{};
    vi.width = c.width;
    vi.height = c.height;
    vi.pixel_type = c.format.pixel_type;
    vi.fps_numerator = static_cast<unsigned>(c.num);
    vi.fps_denominator = static_cast<unsigned>(c.den);
    vi.num_frames = 1;
    const DumpedFrame dumped = InAvisynthPlaneOrder(Frame(c.chain, c.n), c.format.rgb());
    const PVideoFrame frame = env.FetchFrame(PictureClip(env, vi, dumped), 0);
    EXPECT_EQ(ReadBox(env, frame, c.format, WhereBoxGoes(c.format, c.width, c.height, c.cells, c.scale, c.align, 0)),
              c.text);
  }
}

}  // namespace
}  // namespace tallyburn::testing
