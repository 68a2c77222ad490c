// The pipeline users run: ffmpeg decodes to YUV4MPEG2, the tool burns the
// timecode, ffmpeg encodes. Needs Debian's ffmpeg; skips without it.
#include <gtest/gtest.h>
#include <ostream>

#include <cstdlib>

#include "tests/support/plugin_host.h"
#include "tests/support/readback.h"
#include "tests/tool/tool_support.h"

namespace tallyburn::testing {
namespace {

bool HaveFfmpeg() { return std::system("command -v ffmpeg > /dev/null 2>&1") == 0; }

struct PipeCase {
  const char* pix_fmt;
  int pixel_type;
};

void PrintTo(const PipeCase& c, std::ostream* os) { *os << c.pix_fmt; }

class PipelineTest : public PluginHost, public ::testing::WithParamInterface<PipeCase> {};

TEST_P(PipelineTest, FfmpegToToolToFfmpeg) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  const std::string tool = Quote(TALLYBURN_TOOL_PATH);
  const std::string fmt = GetParam().pix_fmt;
  // Make a small input file, then run exactly the documented pipeline on it.
  ASSERT_EQ(Shell(dir, "ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=30000/1001 -frames:v 60 -pix_fmt " + fmt +
                           " -c:v ffv1 in.mkv")
                .status,
            0);
  const RunResult r =
      Shell(dir, "ffmpeg -v error -i in.mkv -f yuv4mpegpipe - | { " + tool +
                     " 'Y4MSource(\"-\").FrameTC()' -o -; echo $? > tool.status; } | ffmpeg -v error -y "
                     "-f yuv4mpegpipe -i - -c:v ffv1 out.mkv");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(ReadFile(dir.Path("tool.status")), "0\n") << r.err;
  // Decode what ffmpeg stored and read the burned labels back.
  const RunResult back = Shell(dir, "ffmpeg -v error -i out.mkv -f yuv4mpegpipe -");
  ASSERT_EQ(back.status, 0) << back.err;
  VideoInfo vi{};
  const auto frames = ParseY4m(env, back.out, &vi);
  ASSERT_EQ(frames.size(), 60u);
  EXPECT_EQ(vi.pixel_type, GetParam().pixel_type);
  EXPECT_EQ(vi.fps_numerator, 30000u);
  EXPECT_EQ(vi.fps_denominator, 1001u);
  for (const int n : {0, 29, 30, 59}) {
    const std::string want = n < 30 ? "000000" + std::string(n < 10 ? "0" : "") + std::to_string(n)
                                    : "000001" + std::string(n < 40 ? "0" : "") + std::to_string(n - 30);
    EXPECT_EQ(frameserver::ReadTimecode(*frames[n].get(), vi.pixel_type, 0, 0), want) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Chroma, PipelineTest,
                         ::testing::Values(PipeCase{"yuv420p", VideoInfo::CS_YV12},
                                           PipeCase{"yuv422p", VideoInfo::CS_YUY2}),
                         [](const auto& p) { return std::string(p.param.pix_fmt); });

}  // namespace
}  // namespace tallyburn::testing
