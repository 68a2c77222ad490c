// Chains that build, use and tear down our filters in the real VapourSynth
// core, run under valgrind's memcheck: no invalid access and no leak may
// show. The core needs no suppressions for these chains.
#include <ostream>
#include <string>
#include <vector>

#include "tests/vapoursynth/vs_host.h"

#include <gtest/gtest.h>

namespace tallyburn::testing {
namespace {

struct MemcheckCase {
  const char* name;
  const char* chain;
  int frames;
  int status;  // the probe's: 0, or 3 for a chain that fails
};

void PrintTo(const MemcheckCase& c, std::ostream* os) { *os << c.name; }

class VsMemcheckTest : public ::testing::TestWithParam<MemcheckCase> {
 protected:
  void SetUp() override {
    const std::string missing = VsHost::Missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    if (RunProcess({"valgrind", "--version"}).status != 0) GTEST_SKIP() << "valgrind is not installed";
  }
};

TEST_P(VsMemcheckTest, ReportsNothing) {
  std::vector<std::string> args = {"valgrind",
                                   "--quiet",
                                   "--error-exitcode=97",
                                   "--leak-check=full",
                                   "--show-leak-kinds=definite,indirect",
                                   "--errors-for-leak-kinds=definite,indirect"};
  for (std::string& a : VsHost::ProbeArgs("dump", GetParam().chain)) args.push_back(std::move(a));
  args.push_back("0");
  args.push_back(std::to_string(GetParam().frames));
  const ProcessResult r = RunProcess(args);
  EXPECT_EQ(r.status, GetParam().status) << GetParam().chain << "\n" << r.out.substr(0, 200) << r.err;
  EXPECT_EQ(r.err, "") << GetParam().chain;
}

INSTANTIATE_TEST_SUITE_P(
    Vs, VsMemcheckTest,
    ::testing::Values(
        // Several filters on the core's threads, frames out of order.
        MemcheckCase{"AllThreeChained",
                     "std.BlankClip(width=576, height=72, format=YUV420P10, length=100, fpsnum=30000, fpsden=1001) | "
                     "tally.TC() | tally.Frame(align=7) | tally.Id() | std.SelectEvery(cycle=10, offsets=[9, 0, 5])",
                     24, 0},
        MemcheckCase{
            "FloatAndRgb",
            "std.BlankClip(width=640, height=72, format=RGBS, length=10, fpsnum=50, fpsden=1) | "
            "tally.TC(scale=2, align=5) | resize.Point(format=GRAYS, matrix_s=\"709\") | tally.Frame(start=-5)",
            5, 0},
        // Text with fields over a box and with an outline, on the core's
        // threads; a text the core refuses.
        MemcheckCase{
            "TextOnThreads",
            "std.BlankClip(width=640, height=180, format=YUV420P10, length=100, fpsnum=25, fpsden=1) | "
            "tally.Text(text=\"Reel {tc}\\n{frame:6}\", size=24) | "
            "tally.Text(text=\"A001\", box_opacity=0.0, align=7) | std.SelectEvery(cycle=10, offsets=[9, 0, 5])",
            12, 0},
        MemcheckCase{"TextRefused",
                     "std.BlankClip(width=320, height=72, format=GRAY8, length=10) | tally.Text(text=\"{nope}\")", 1,
                     3},
        MemcheckCase{"PassedThrough",
                     "std.BlankClip(width=640, height=72, format=YUV420P9, length=10) | tally.TC() | tally.Id()", 3, 0},
        // Refused after the clip was taken: its reference goes back.
        MemcheckCase{"RefusedByTheCore",
                     "std.BlankClip(width=320, height=72, format=GRAY8, length=10) | tally.Frame() | tally.Id(scale=1)",
                     1, 3},
        MemcheckCase{"RefusedByTheDoor",
                     "std.BlankClip(width=320, height=72, format=YUV420P8, length=10, fpsnum=0) | tally.Frame() | "
                     "tally.TC()",
                     1, 3}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tallyburn::testing
