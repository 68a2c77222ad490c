// Scripts that build, use and tear down our filters in the real host, run
// under valgrind's memcheck through each door: no invalid access and no leak
// may show, and the host's own reports are suppressed only where they do not
// involve us.
#include <string>
#include <tuple>

#include "tests/avsplus/real_host.h"

#include <gtest/gtest.h>

namespace tallyburn::testing {
namespace {

struct MemcheckCase {
  const char* name;
  const char* script;
  int frames;
};

class MemcheckTest : public ::testing::TestWithParam<std::tuple<MemcheckCase, Module>> {
 protected:
  void SetUp() override {
    const std::string missing = RealHost::Missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    if (ModulePath(door()).empty()) GTEST_SKIP() << "built without the host's avisynth_c.h: no C door";
    if (RunProcess({"valgrind", "--version"}).status != 0) GTEST_SKIP() << "valgrind is not installed";
  }
  const MemcheckCase& param() const { return std::get<0>(GetParam()); }
  Module door() const { return std::get<1>(GetParam()); }
};

TEST_P(MemcheckTest, ReportsNothing) {
  std::vector<std::string> args = {"valgrind",
                                   "--quiet",
                                   "--error-exitcode=97",
                                   "--leak-check=full",
                                   "--show-leak-kinds=definite,indirect",
                                   "--errors-for-leak-kinds=definite,indirect",
                                   "--suppressions=" TALLYBURN_SOURCE_DIR "/tests/avsplus/host.supp"};
  for (std::string& a : RealHost::ProbeArgs("dump", param().script, door())) args.push_back(std::move(a));
  args.push_back("0");
  args.push_back(std::to_string(param().frames));
  const ProcessResult r = RunProcess(args);
  EXPECT_EQ(r.status, 0) << param().script << "\n" << r.out.substr(0, 200) << r.err;
  EXPECT_EQ(r.err, "") << param().script;
}

INSTANTIATE_TEST_SUITE_P(
    RealHost, MemcheckTest,
    ::testing::Combine(
        ::testing::Values(
            MemcheckCase{"FrameTCAlone", "ColorBars(202, 32, pixel_type=\"YV12\").AssumeFPS(30000, 1001).FrameTC()", 5},
            MemcheckCase{"TallyburnAlone", "ColorBars(202, 32, pixel_type=\"RGB32\").Tallyburn(left=1)", 5},
            MemcheckCase{"Chained", "ColorBars(320, 64, pixel_type=\"YUY2\").Tallyburn().FrameTC(orientation=2)", 5},
            MemcheckCase{"BothOnOneSource",
                         "c = ColorBars(320, 64, pixel_type=\"RGB24\").AssumeFPS(25, 1)\n"
                         "StackVertical(c.Tallyburn(), c.FrameTC(y=10))",
                         3},
            MemcheckCase{"Prefetch",
                         "ColorBars(320, 64, pixel_type=\"YV12\").AssumeFPS(24, 1).Tallyburn().FrameTC().Prefetch(4)",
                         24},
            MemcheckCase{"FailedConstruction",
                         "c = ColorBars(320, 64, pixel_type=\"YV12\")\n"
                         "try { a = c.FrameTC(y=-1) } catch (e) { a = c }\n"
                         "try { b = c.Crop(0, 0, 96, 0).Tallyburn(offset=2000000000) } catch (e) { b = a }\n"
                         "try { d = b.FrameTC(orientation=9) } catch (e) { d = b.Tallyburn() }\n"
                         "d",
                         3},
            MemcheckCase{"PassedThrough", "ColorBars(320, 64, pixel_type=\"YV24\").Tallyburn().FrameTC()", 3},
            MemcheckCase{
                "CurrentFiltersDeepFormats",
                "ColorBars(320, 72, pixel_type=\"YUV422P10\").TallyTC(start=\"00:59:59;28\").TallyFrame(align=9)", 3},
            MemcheckCase{"CurrentFiltersFloatAndAlpha",
                         "a = ColorBars(320, 72, pixel_type=\"RGBAPS\").AssumeFPS(50, 1).TallyTC(scale=2, align=5)\n"
                         "b = ColorBars(320, 72, pixel_type=\"YUVA444P16\").AssumeFPS(50, 1).TallyFrame(start=-5)\n"
                         "StackVertical(a, b.ConvertToPlanarRGBA().ConvertBits(32))",
                         3},
            MemcheckCase{
                "CurrentFiltersPrefetch",
                "ColorBars(576, 72, pixel_type=\"YUY2\").TallyTC().TallyFrame().FrameTC().TallyId().Prefetch(4)", 24},
            MemcheckCase{"CurrentFiltersFailedConstruction",
                         "c = ColorBars(320, 72, pixel_type=\"RGB64\")\n"
                         "try { a = c.TallyTC(start=\"00:01:00;00\") } catch (e) { a = c }\n"
                         "try { b = a.TallyFrame(scale=9) } catch (e) { b = a.TallyFrame() }\n"
                         "b",
                         3},
            MemcheckCase{"EveryFilterFailedConstruction",
                         "c = ColorBars(320, 72, pixel_type=\"YV12\").AssumeFPS(50, 1)\n"
                         "try { a = c.TallyId(start=-1) } catch (e) { a = c }\n"
                         "try { a = a.TallyTC(rate=\"7\") } catch (e) { a = a.Tallyburn() }\n"
                         "try { a = a.TallyFrame(digits=11) } catch (e) { a = a.TallyFrame(scale=1) }\n"
                         "try { a = a.FrameTC() } catch (e) { a = a.TallyTC(drop=false) }\n"
                         "a",
                         3},
            MemcheckCase{"SoundFilterAndItsRefusal",
                         "c = BlankClip(length=60, fps=25, width=64, height=48, audio_rate=44100, channels=2)\n"
                         "try { a = c.TallySync(period=0.0) } catch (e) { a = c }\n"
                         "a.TallySync(level=-6.0).TallyFrame()",
                         3}),
        ::testing::Values(Module::kAvisynth25, Module::kAvisynthC)),
    [](const auto& p) {
      return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) == Module::kAvisynthC ? "_C" : "_25");
    });

}  // namespace
}  // namespace tallyburn::testing
