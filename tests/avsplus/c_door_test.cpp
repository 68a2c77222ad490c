// The C door against the 2.5 door in the real host: the same scripts give
// the same bytes, defaults and messages through either library, in every
// format the host makes, and the shipped plug-in answers like both.
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
