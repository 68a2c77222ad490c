// The Windows build of the plug-in in VapourSynth for Windows, under Wine,
// loaded with std.LoadPlugin as Windows users load it: the same messages
// and, byte for byte, the same frames as the Linux build in the Linux core.
// Few chains: each starts Wine.
#include <string>
#include <vector>

#include "tests/vapoursynth/vs_host.h"

#include <gtest/gtest.h>

namespace tallyburn::testing {
namespace {

class VsWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const VsPlatform p : {VsPlatform::kLinux, VsPlatform::kWindows}) {
      const std::string missing = VsHost::Missing(p);
      if (!missing.empty()) GTEST_SKIP() << missing;
    }
  }
};

TEST_F(VsWineTest, WindowsFramesEqualLinuxFrames) {
  // All three functions on one clip, frames at both ends and a minute mark.
  for (const char* chain :
       {"std.BlankClip(width=640, height=360, format=YUV420P10, length=107892, fpsnum=30000, fpsden=1001, "
        "color=[300, 400, 900]) | tally.TC(start=\"00:59:59;28\") | tally.Frame(align=7) | tally.Id(start=5) | "
        "std.SelectEvery(cycle=107892, offsets=[0, 1799, 1800, 107891])",
        "std.BlankClip(width=640, height=360, format=RGBS, length=100, fpsnum=25, fpsden=1, color=[0.25, 0.5, 0.75]) "
        "| tally.TC(scale=2, align=5) | tally.Frame(start=-50) | tally.Id(align=2)"}) {
    SCOPED_TRACE(chain);
    std::vector<std::string> linux_formats, windows_formats;
    const std::vector<DumpedFrame> want = VsHost::Dump(chain, 0, 4, &linux_formats);
    const std::vector<DumpedFrame> got = VsHost::Dump(chain, 0, 4, &windows_formats, VsPlatform::kWindows);
    ASSERT_EQ(want.size(), 4u);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(windows_formats, linux_formats);
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(FirstDifference(want[i], got[i]), "") << "frame " << i;
  }
}

TEST_F(VsWineTest, WindowsMessagesEqualLinuxMessages) {
  // A message of the core's in VapourSynth's name, and one of the door's.
  for (const char* chain : {"std.BlankClip(width=640, height=360, format=YUV420P8, length=10) | tally.Frame(digits=99)",
                            "std.BlankClip(width=640, height=360, format=RGBH, length=10) | tally.TC()"}) {
    std::string linux_error, windows_error;
    EXPECT_FALSE(VsHost::Info(chain, &linux_error));
    EXPECT_FALSE(VsHost::Info(chain, &windows_error, VsPlatform::kWindows));
    EXPECT_NE(linux_error, "") << chain;
    EXPECT_EQ(windows_error, linux_error) << chain;
  }
}

}  // namespace
}  // namespace tallyburn::testing
