// The C door against the 2.5 door in the real host: the same scripts give
// the same bytes, defaults and messages through either library, in every
// format the host makes, and the shipped plug-in answers like both.
#include <string>
#include <vector>

#include "draw/pixel_format.h"
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

// Bars of the format as the host makes them; grey from its 4:4:4 bars.
std::string Source(const PixelFormat& f) {
  if (f.family == Family::kGrey)
    return std::string("ColorBars(580, 242, pixel_type=\"YUV444P") + (f.bits == 32 ? "S" : std::to_string(f.bits)) +
           "\").ConvertToY()";
  return std::string("ColorBars(580, 242, pixel_type=\"") + f.name + "\")";
}

// Every function once with its defaults and once with arguments, stacked
// into one picture per format: the classic pair draws the classic formats
// and passes the rest through, the others draw everywhere.
constexpr const char* kCalls[] = {
    "c.Tallyburn()",
    "c.Tallyburn(7, 1)",
    "c.FrameTC()",
    "c.FrameTC(offset=107000, orientation=2, y=3)",
    "c.TallyTC()",
    "c.TallyTC(start=\"01:00:00;02\", scale=2, align=5, margin=3)",
    "c.TallyTC(rate=\"25\", drop=false, align=7)",
    "c.TallyFrame()",
    "c.TallyFrame(start=-3, digits=4, align=7, margin=1)",
    "c.TallyId()",
    "c.TallyId(start=9, align=1, scale=1)",
};

TEST_F(CDoorTest, EveryFormatGivesTheSameBytesThroughBothDoors) {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  for (const PixelFormat& f : std::vector<PixelFormat>(all, all + count)) {
    if (f.pixel_type == static_cast<int>(0xA0000010u)) continue;  // the host's sources make no I420
    SCOPED_TRACE(f.name);
    std::string stack = "StackVertical(";
    std::string plain = "StackVertical(";
    for (size_t i = 0; i < std::size(kCalls); ++i) {
      stack += (i ? ", " : "") + std::string(kCalls[i]);
      plain += i ? ", c" : "c";
    }
    const std::string head = "c = " + Source(f) + ".AssumeFPS(30000, 1001)\n";
    const std::vector<std::string> frames = {"dump", "107000", "2"};
    const ProcessResult two_five = Probe(frames, head + stack + ")", Module::kAvisynth25);
    const ProcessResult c = Probe(frames, head + stack + ")", Module::kAvisynthC);
    ASSERT_EQ(two_five.status, 0) << two_five.out.substr(0, 200);
    ASSERT_EQ(c.status, 0) << c.out.substr(0, 200);
    EXPECT_TRUE(two_five.out == c.out) << "the doors' frames differ";
    EXPECT_NE(Probe(frames, head + plain + ")", Module::kAvisynthC).out, c.out) << "nothing was drawn";
  }
}

TEST_F(CDoorTest, RefusalsAndTypeErrorsCarryTheSameMessages) {
  const std::string bars = "ColorBars(640, 480, pixel_type=\"YV12\").AssumeFPS(50, 1)";
  const std::string scripts[] = {
      "ColorBars(640, 13, pixel_type=\"RGB24\").Tallyburn()",
      "ColorBars(91, 480, pixel_type=\"RGB24\").FrameTC()",
      bars + ".FrameTC()",
      bars + ".AssumeFPS(25, 1).FrameTC(y=467)",
      bars + ".AssumeFPS(25, 1).FrameTC(orientation=3)",
      bars + ".TallyTC(rate=\"7\")",
      bars + ".TallyTC(rate=\"x\")",
      bars + ".AssumeFPS(1, 1).TallyTC()",
      bars + ".TallyTC(start=\"25:00:00:00\")",
      bars + ".TallyTC(start=\"00:00:00;00\", drop=false)",
      bars + ".AssumeFPS(25, 1).TallyTC(drop=true)",
      bars + ".TallyTC(scale=65)",
      bars + ".TallyTC(align=0)",
      bars + ".TallyTC(margin=-1)",
      bars + ".TallyTC(scale=40)",
      bars + ".TallyFrame(digits=11)",
      bars + ".TallyId(start=-1)",
      bars + ".TallyId(scale=9)",
      bars + ".Tallyburn(offset=\"1\")",
      bars + ".TallyTC(drop=1)",
  };
  for (const std::string& script : scripts) {
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
