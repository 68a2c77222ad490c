// The tool's script language: syntax errors with their columns, and
// evaluation through the registered functions.
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

#include "sync/tally_sync.h"
#include "tests/support/plugin_host.h"
#include "tests/tool/tool_support.h"
#include "tool/script/script.h"
#include "tool/script/sources.h"

namespace tallyburn::tool {
namespace {

struct SyntaxCase {
  const char* script;
  const char* message;
};

void PrintTo(const SyntaxCase& c, std::ostream* os) { *os << c.script; }

class ScriptSyntaxTest : public ::testing::TestWithParam<SyntaxCase> {};

TEST_P(ScriptSyntaxTest, ReportsTheColumn) {
  try {
    ParseScript(GetParam().script);
    ADD_FAILURE() << "parsed";
  } catch (const ScriptError& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScriptSyntaxTest,
    ::testing::Values(SyntaxCase{"", "script column 1: the script is empty"},
                      SyntaxCase{"ColorBars(", "script column 11: expected a value, found the end"},
                      SyntaxCase{"ColorBars(1 2)", "script column 13: expected ',' or ')', found '2'"},
                      SyntaxCase{"ColorBars().", "script column 13: expected a function name after '.', found the end"},
                      SyntaxCase{"ColorBars(\"YV12)", "script column 11: string has no closing quote"},
                      SyntaxCase{"ColorBars(@)", "script column 11: unexpected character '@'"},
                      SyntaxCase{"ColorBars(99999999999)", "script column 11: number '99999999999' is out of range"},
                      SyntaxCase{"ColorBars(-x)", "script column 11: '-' must be followed by a number"},
                      SyntaxCase{"ColorBars() ColorBars()",
                                 "script column 13: expected the end of the statement, found 'ColorBars'"},
                      SyntaxCase{"A\n  B(", "script line 2, column 5: expected a value, found the end"},
                      SyntaxCase{"F($)", "script column 3: '$' must be followed by hexadecimal digits"}));

TEST(ScriptTest, ParsesChainsNamedArgumentsAndLiterals) {
  const auto s = ParseScript("ColorBars(1920, height=1080, fps=29.97, color=$FF8000, x=-5, t=true).FrameTC(y=2)");
  ASSERT_EQ(s.size(), 1u);
  const Expr& top = *s[0];
  EXPECT_EQ(top.text, "FrameTC");
  ASSERT_EQ(top.args.size(), 2u);
  EXPECT_EQ(top.args[0].name, "");  // the chained clip comes first
  const Expr& bars = *top.args[0].value;
  EXPECT_EQ(bars.text, "ColorBars");
  ASSERT_EQ(bars.args.size(), 6u);
  EXPECT_EQ(bars.args[1].name, "height");
  EXPECT_DOUBLE_EQ(bars.args[2].value->real, 29.97);
  EXPECT_EQ(bars.args[3].value->integer, 0xFF8000);
  EXPECT_EQ(bars.args[4].value->integer, -5);
  EXPECT_TRUE(bars.args[5].value->boolean);
  EXPECT_EQ(ParseScript("-2147483648")[0]->integer, INT_MIN);
}

TEST(ScriptTest, DeepOrHugeScriptsAreRefusedNotRecursedInto) {
  std::string deep(100, '(');
  EXPECT_THROW(ParseScript(deep + "1" + std::string(100, ')')), ScriptError);
  std::string chain = "F()";
  for (int i = 0; i < 1200; ++i) chain += ".F";
  EXPECT_THROW(ParseScript(chain), ScriptError);
}

class ScriptEvalTest : public testing::PluginHost {
 protected:
  ToolContext context;
  ScriptEvalTest() { RegisterBuiltins(env, context); }
  std::string Error(const std::string& script) {
    try {
      EvaluateScript(env, script);
    } catch (const ScriptError& e) {
      return e.what();
    }
    return "";
  }
};

TEST_F(ScriptEvalTest, BuildsTheChainThroughThePlugin) {
  const AVSValue v = EvaluateScript(env, "ColorBars(320, 240, \"RGB24\", length=10, fps=25).Tallyburn(left=1)");
  ASSERT_TRUE(v.IsClip());
  const VideoInfo& vi = v.AsClip()->GetVideoInfo();
  EXPECT_EQ(vi.width, 320);
  EXPECT_EQ(vi.pixel_type, VideoInfo::CS_BGR24);
  EXPECT_EQ(vi.num_frames, 10);
  EXPECT_EQ(vi.fps_numerator, 25u);
  EXPECT_EQ(vi.fps_denominator, 1u);
}

TEST_F(ScriptEvalTest, ErrorsCarryTheColumnAndTheFunctionsMessageVerbatim) {
  EXPECT_EQ(Error("ColorBars().FrameTC(y=-1)"), "script column 13: FrameTC: y value is invalid");
  EXPECT_EQ(Error("ColorBars(width=90).FrameTC()"), "script column 21: FrameTC: video is too small");
  EXPECT_EQ(Error("Colorbars().Frametc(orientation=3)"),
            "script column 13: FrameTC: Orientation value must be 0 (right), 1 (left) or 2 (center)");
  EXPECT_EQ(Error("ColorBars().Nope()"), "script column 13: there is no function named \"Nope\"");
  EXPECT_EQ(Error("ColorBars(pixel_type=\"NV12\")"),
            "script column 1: ColorBars: unknown pixel_type \"NV12\" (RGB24, RGB32, YUY2, YV12, I420, or bgr24, bgra, "
            "yuyv422, yuv420p)");
  EXPECT_EQ(Error("ColorBars(641, pixel_type=\"YV12\")"),
            "script column 1: ColorBars: width 641 must be a multiple of 2 for YV12");
  EXPECT_EQ(Error("ColorBars(0, 10)"), "script column 1: ColorBars: size 0x10 is outside 1 to 16384 per side");
  EXPECT_EQ(Error("ColorBars(fps_denominator=0)"), "script column 1: ColorBars: fps_denominator must be 1 or more");
  EXPECT_EQ(Error("ColorBars(offset=3)"), "script column 1: ColorBars: no argument named \"offset\"");
  EXPECT_EQ(Error("Tallyburn(5)"), "script column 1: Tallyburn: argument 1 must be a clip, not an integer");
}

// The tool's sources hand out exclusive frames: the filters draw into them
// and the host copies nothing.
TEST_F(ScriptEvalTest, SourcesGiveFramesTheFiltersDrawInPlace) {
  testing::TempDir dir;
  testing::WriteFile(dir.Path("in.y4m"), testing::MakeY4m(96, 32, 4));
  for (const std::string& source : {std::string("ColorBars(96, 32)"), "Y4MSource(\"" + dir.Path("in.y4m") + "\")"}) {
    SCOPED_TRACE(source);
    const PClip clip = EvaluateScript(env, source + ".FrameTC(orientation=1).Tallyburn()").AsClip();
    for (int n = 0; n < 4; ++n) env.FetchFrame(clip, n);
    EXPECT_EQ(env.frames().copies(), 0u);
  }
}

// The tool is a 2.5 host of its own: TallySync takes its float literals,
// hands the pictures on and makes the marks as its sound.
TEST_F(ScriptEvalTest, TallySyncRunsInTheToolsHost) {
  const PClip bars = EvaluateScript(env, "ColorBars(96, 32, length=30, fps=25)").AsClip();
  const PClip clip =
      EvaluateScript(env, "ColorBars(96, 32, length=30, fps=25).TallySync(period=0.5, level=-6.5)").AsClip();
  const VideoInfo& vi = clip->GetVideoInfo();
  EXPECT_EQ(vi.num_frames, 30);
  EXPECT_EQ(vi.audio_samples_per_second, 48000);
  EXPECT_EQ(vi.nchannels, 2);
  EXPECT_EQ(vi.sample_type, VideoInfo::SAMPLE_INT16);
  EXPECT_EQ(vi.num_audio_samples, 57600);
  sync::SyncRequest r;
  r.fps_num = 25;
  r.fps_den = 1;
  r.num_frames = 30;
  r.period = 0.5;
  r.level = -6.5;
  const sync::SyncPlanResult plan = sync::PlanSync(r);
  ASSERT_TRUE(plan.plan) << plan.error;
  std::vector<int16_t> want(2 * 57600), got(2 * 57600, 77);
  sync::MarkGenerator(*plan.plan).Fill(want.data(), 0, 57600, sync::SampleType::kInt16);
  clip->GetAudio(got.data(), 0, 57600, &env);
  EXPECT_EQ(got, want);
  EXPECT_TRUE(testing::Differences(env, env.FetchFrame(clip, 7), env.FetchFrame(bars, 7)).empty());
  EXPECT_EQ(Error("ColorBars().TallySync(period=-1.5)").rfind("script column 13: TallySync: ", 0), 0u);
}

// Scripts as a frame server runs them: variables, comments, and the
// implicit last that a bare clip sets and a call without its clip takes.
TEST_F(ScriptEvalTest, VariablesAndTheImplicitLast) {
  const struct {
    const char* script;
    int width;
    int frames;
  } cases[] = {
      {"clip = BlankClip(length=7, width=128)  # a comment\nclip.FrameTC()", 128, 7},
      {"BlankClip(length=5, width=160)\nTallyburn()\nFrameTC(orientation=2)", 160, 5},
      {"a = BlankClip(length=2, width=96)\nb = BlankClip(length=9, width=200)\nb\nTallyburn()", 200, 9},
      {"BlankClip(length=4, width=144)\nx = 3  # an assignment leaves last alone\nlast.Tallyburn(offset=x)", 144, 4},
      {"Last = ColorBars(length=6)\nLAST", 640, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const AVSValue v = EvaluateScript(env, c.script);
    ASSERT_TRUE(v.IsClip());
    EXPECT_EQ(v.AsClip()->GetVideoInfo().width, c.width);
    EXPECT_EQ(v.AsClip()->GetVideoInfo().num_frames, c.frames);
  }
  EXPECT_EQ(Error("Tallyburn()"), "script column 1: Tallyburn: missing argument 1 (a clip)");
  EXPECT_EQ(Error("last"), "script column 1: there is no clip in last yet");
  EXPECT_EQ(Error("BlankClip()\n\nFrameTC(y=-2)"), "script line 3, column 1: FrameTC: y value is invalid");
}

TEST_F(ScriptEvalTest, LastStatementGivesTheClip) {
  const AVSValue v =
      EvaluateScript(env, std::string("LoadPlugin(\"") + TALLYBURN_PLUGIN_PATH + "\"); BlankClip(length=3)\n");
  ASSERT_TRUE(v.IsClip());
  EXPECT_EQ(v.AsClip()->GetVideoInfo().num_frames, 3);
}

}  // namespace
}  // namespace tallyburn::tool
