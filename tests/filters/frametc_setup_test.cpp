// FrameTC's checks, their order, and the frame-rate classes, through the
// built plug-in.
#include <ostream>
#include <string>

#include "tests/support/plugin_host.h"
#include "tests/support/readback.h"

namespace tallyburn::testing {
namespace {

const char* const kTooSmall = "FrameTC: video is too small";
const char* const kBadY = "FrameTC: y value is invalid";
const char* const kBadOrientation = "FrameTC: Orientation value must be 0 (right), 1 (left) or 2 (center)";
const char* const kBadFps = "FrameTC: fps of the video must be 23.976, 24, 25, 29.97 or 30";

class FrameTCSetupTest : public PluginHost {
 protected:
  std::string Check(int width, int height, unsigned num, unsigned den, int orientation = 0, int y = 0) {
    const PClip src =
        Source({.width = width, .height = height, .pixel_type = kYv12, .fps_numerator = num, .fps_denominator = den});
    return ErrorOf("FrameTC", {{"", src}, {"orientation", orientation}, {"y", y}});
  }
};

TEST_F(FrameTCSetupTest, SizeThresholds) {
  EXPECT_EQ(Check(92, 14, 25, 1), "");
  EXPECT_EQ(Check(91, 14, 25, 1), kTooSmall);
  EXPECT_EQ(Check(92, 13, 25, 1), kTooSmall);
}

TEST_F(FrameTCSetupTest, YMustKeepTheBoxInsideThePicture) {
  EXPECT_EQ(Check(100, 100, 25, 1, 0, 86), "");
  EXPECT_EQ(Check(100, 100, 25, 1, 0, 0), "");
  EXPECT_EQ(Check(100, 100, 25, 1, 0, 87), kBadY);
  EXPECT_EQ(Check(100, 100, 25, 1, 0, -1), kBadY);
  EXPECT_EQ(Check(100, 100, 25, 1, 0, INT_MAX), kBadY);  // y + 14 must not wrap into range
  EXPECT_EQ(Check(100, 100, 25, 1, 0, INT_MIN), kBadY);
}

TEST_F(FrameTCSetupTest, OrientationIsZeroOneOrTwo) {
  for (const int o : {0, 1, 2}) EXPECT_EQ(Check(100, 100, 25, 1, o), "") << o;
  for (const int o : {-1, 3, INT_MAX}) EXPECT_EQ(Check(100, 100, 25, 1, o), kBadOrientation) << o;
}

TEST_F(FrameTCSetupTest, OnlyTheFirstFailingCheckIsReported) {
  EXPECT_EQ(Check(91, 100, 15, 1, 5, -1), kTooSmall);
  EXPECT_EQ(Check(100, 100, 15, 1, 5, -1), kBadY);
  EXPECT_EQ(Check(100, 100, 15, 1, 5, 0), kBadOrientation);
  EXPECT_EQ(Check(100, 100, 15, 1, 0, 0), kBadFps);
}

struct RateCase {
  unsigned num, den;
  const char* at_1800;  // the text of frame 1800; nullptr: refused
};

void PrintTo(const RateCase& c, std::ostream* os) { *os << c.num << "/" << c.den; }

class FrameTCRateTest : public FrameTCSetupTest, public ::testing::WithParamInterface<RateCase> {};

// Frame 1800 tells the classes apart: 30 gives 00:01:00:00, 29.97 drop
// frame 00:01:00:02, 24 00:01:15:00, 23.976 00:01:15:02 (the skip at 1001),
// 25 00:01:12:00, and a rate of 0 shows zero.
TEST_P(FrameTCRateTest, ClassifiesTheRate) {
  const RateCase& c = GetParam();
  const PClip src =
      Source({.width = 92, .height = 14, .pixel_type = kRgb32, .fps_numerator = c.num, .fps_denominator = c.den});
  if (c.at_1800 == nullptr) {
    EXPECT_EQ(ErrorOf("FrameTC", {{"", src}}), kBadFps);
    return;
  }
  const PVideoFrame out = env.FetchFrame(Apply("FrameTC", {{"", src}}), 1800);
  EXPECT_EQ(frameserver::ReadTimecode(*out.get(), kRgb32, 0, 0), c.at_1800);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameTCRateTest,
    ::testing::Values(RateCase{24, 1, "00011500"}, RateCase{48, 2, "00011500"}, RateCase{120, 5, "00011500"},
                      RateCase{25, 1, "00011200"}, RateCase{50, 2, "00011200"}, RateCase{30, 1, "00010000"},
                      RateCase{24000, 1001, "00011502"}, RateCase{23976, 1000, "00011502"},
                      RateCase{2997, 125, "00011502"}, RateCase{30000, 1001, "00010002"},
                      RateCase{29970, 1000, "00010002"}, RateCase{2997, 100, "00010002"}, RateCase{0, 1, "00000000"},
                      RateCase{23975, 1000, nullptr}, RateCase{23977, 1000, nullptr}, RateCase{24001, 1001, nullptr},
                      RateCase{29969, 1000, nullptr}, RateCase{29971, 1000, nullptr}, RateCase{15, 1, nullptr},
                      RateCase{50, 1, nullptr}, RateCase{60, 1, nullptr}, RateCase{0, 0, nullptr},
                      RateCase{1, 0, nullptr}, RateCase{4294967295u, 1, nullptr},
                      RateCase{4294967295u, 4294967295u, nullptr}, RateCase{1, 4294967295u, nullptr}),
    [](const auto& p) { return std::to_string(p.param.num) + "_" + std::to_string(p.param.den); });

}  // namespace
}  // namespace tallyburn::testing
