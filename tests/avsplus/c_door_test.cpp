// The C door against the 2.5 door in the real host: the same scripts give
// the same bytes, defaults and messages through either library, in every
// format the host makes, and the shipped plug-in answers like both.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/avsplus/door_scripts.h"
#include "tests/avsplus/real_host.h"

#include <gtest/gtest.h>

namespace tallyburn::testing {
namespace {

class CDoorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = RealHost::Missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    if (ModulePath(Module::kAvisynthC).empty()) GTEST_SKIP() << "built without the host's avisynth_c.h: no C door";
  }
};

ProcessResult Probe(const std::vector<std::string>& verb_and_rest, const std::string& script, Module module) {
  std::vector<std::string> args = RealHost::ProbeArgs(verb_and_rest[0], script, module);
  args.insert(args.end(), verb_and_rest.begin() + 1, verb_and_rest.end());
  return RunProcess(args);
}

TEST_F(CDoorTest, EveryFormatGivesTheSameBytesThroughBothDoors) {
  for (const PixelFormat& f : HostFormats()) {
    SCOPED_TRACE(f.name);
    const std::vector<std::string> frames = {"dump", "107000", "2"};
    const ProcessResult two_five = Probe(frames, StackedCalls(f), Module::kAvisynth25);
    const ProcessResult c = Probe(frames, StackedCalls(f), Module::kAvisynthC);
    ASSERT_EQ(two_five.status, 0) << two_five.out.substr(0, 200);
    ASSERT_EQ(c.status, 0) << c.out.substr(0, 200);
    EXPECT_TRUE(two_five.out == c.out) << "the doors' frames differ";
    EXPECT_NE(Probe(frames, StackedCalls(f, false), Module::kAvisynthC).out, c.out) << "nothing was drawn";
  }
}

TEST_F(CDoorTest, RefusalsAndTypeErrorsCarryTheSameMessages) {
  for (const std::string& script : RefusedScripts()) {
    const ProcessResult two_five = Probe({"info"}, script, Module::kAvisynth25);
    const ProcessResult c = Probe({"info"}, script, Module::kAvisynthC);
    EXPECT_EQ(two_five.status, 3) << script;
    EXPECT_EQ(two_five.out.rfind("error: ", 0), 0u) << script << ": " << two_five.out;
    EXPECT_EQ(c.status, two_five.status) << script;
    EXPECT_EQ(c.out, two_five.out) << script;
  }
}

// TallyText's white follows each frame's _Transfer, which only the C
// interface shows a plug-in: BT.2408's graphics white is 58% of PQ's
// signal and 75% of HLG's. Luma of the text where it covers pixels whole,
// 10-bit (64 + signal x 876).
TEST_F(CDoorTest, TextWhiteFollowsTheFramesTransfer) {
  const struct {
    const char* props;
    const char* white;
    int luma;
  } cases[] = {
      {"", "", 940},
      {".propSet(\"_Transfer\", 16)", "", 573},                 // PQ, 0.5807
      {".propSet(\"_Transfer\", 18)", "", 721},                 // HLG, 0.7499
      {".propSet(\"_Transfer\", 16)", ", white=\"100\"", 509},  // PQ, 0.5081
      {".propSet(\"_Transfer\", 18)", ", white=\"peak\"", 940},
  };
  for (const auto& c : cases) {
    const std::string script = std::string("BlankClip(width=640, height=360, pixel_type=\"YUV444P10\")") + c.props +
                               ".TallyText(\"IIII\", size=48, box_opacity=1.0, align=7, margin=0" + c.white + ")";
    SCOPED_TRACE(script);
    const std::vector<DumpedFrame> frames = RealHost::Dump(script, 3, 1, Module::kAvisynthC);
    ASSERT_EQ(frames.size(), 1u);
    int high = 0;
    const std::string& luma = frames[0].planes[0].bytes;
    for (size_t i = 0; i + 1 < luma.size(); i += 2)
      high = std::max(high, static_cast<uint8_t>(luma[i]) | static_cast<uint8_t>(luma[i + 1]) << 8);
    EXPECT_EQ(high, c.luma);
  }
}

TEST_F(CDoorTest, TheShippedPluginAnswersLikeBothDoors) {
  const std::string script =
      "c = ColorBars(580, 242, pixel_type=\"YUY2\").AssumeFPS(24000, 1001)\n"
      "StackVertical(c.Tallyburn(), c.FrameTC(orientation=1), c.TallyTC(), c.TallyFrame(), c.TallyId())";
  const ProcessResult shipped = Probe({"dump", "5000", "2"}, script, Module::kShipped);
  ASSERT_EQ(shipped.status, 0) << shipped.out.substr(0, 200);
  EXPECT_TRUE(shipped.out == Probe({"dump", "5000", "2"}, script, Module::kAvisynthC).out);
  EXPECT_TRUE(shipped.out == Probe({"dump", "5000", "2"}, script, Module::kAvisynth25).out);
}

}  // namespace
}  // namespace tallyburn::testing
