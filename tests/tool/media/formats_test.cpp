// The tool in every format it reads and writes, with ffmpeg on both sides:
// each YUV4MPEG2 colour space and depth in and out unchanged in kind, raw
// frames by ffmpeg's names, deep RGB to 16-bit PNG; the current filters'
// boxes read back from what came out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>

#include "slot_planes.h"
#include "tests/support/text_box_reader.h"
#include "tests/tool/tool_support.h"
#include "tool/media/raw_formats.h"

namespace tallyburn::testing {
namespace {

bool HaveFfmpeg() { return std::system("command -v ffmpeg > /dev/null 2>&1") == 0; }

struct Y4mCase {
  const char* pix_fmt;
  const char* colour;  // the C tag both ways
  const char* host_name;
};

void PrintTo(const Y4mCase& c, std::ostream* os) { *os << c.pix_fmt; }

class ToolFormatTest : public PluginHost, public ::testing::WithParamInterface<Y4mCase> {};

TEST_P(ToolFormatTest, Y4mColourSpaceInAndOut) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const Y4mCase& c = GetParam();
  TempDir dir;
  ASSERT_EQ(Shell(dir, std::string("ffmpeg -v error -f lavfi -i testsrc=size=324x244:rate=30000/1001 -frames:v 3 "
                                   "-pix_fmt ") +
                           c.pix_fmt + " -strict -1 in.y4m")
                .status,
            0);
  const RunResult r =
      RunTool(dir, {"Y4MSource(\"in.y4m\").TallyTC(start=\"00:59:59;28\").TallyFrame(align=9)", "-o", "out.y4m"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string out = ReadFile(dir.Path("out.y4m"));
  const std::string header = out.substr(0, out.find('\n'));
  EXPECT_NE(header.find(std::string(" C") + c.colour), std::string::npos) << header;

  VideoInfo vi{};
  const auto frames = ParseY4m(env, out, &vi);
  ASSERT_EQ(frames.size(), 3u);
  const PixelFormat f = *DescribePixelType(vi.pixel_type);
  EXPECT_STREQ(f.name, c.host_name);
  EXPECT_EQ(ReadBox(env, frames[2], f, WhereBoxGoes(f, 324, 244, 11, 1, 2, 0)), "01:00:00;00");
  EXPECT_EQ(ReadBox(env, frames[2], f, WhereBoxGoes(f, 324, 244, 1, 1, 9, 0)), "2");
  // And ffmpeg takes what we wrote.
  EXPECT_EQ(Shell(dir, "ffmpeg -v error -i out.y4m -f null -").status, 0);
}

INSTANTIATE_TEST_SUITE_P(Y4m, ToolFormatTest,
                         ::testing::Values(Y4mCase{"yuv420p", "420jpeg", "YV12"}, Y4mCase{"yuv422p", "422", "YUY2"},
                                           Y4mCase{"yuv444p", "444", "YV24"}, Y4mCase{"yuv411p", "411", "YV411"},
                                           Y4mCase{"gray", "mono", "Y8"}, Y4mCase{"gray10le", "mono10", "Y10"},
                                           Y4mCase{"gray16le", "mono16", "Y16"},
                                           Y4mCase{"yuv420p10le", "420p10", "YUV420P10"},
                                           Y4mCase{"yuv422p12le", "422p12", "YUV422P12"},
                                           Y4mCase{"yuv444p14le", "444p14", "YUV444P14"},
                                           Y4mCase{"yuv420p16le", "420p16", "YUV420P16"}),
                         [](const auto& p) { return std::string(p.param.pix_fmt); });

// Raw frames of ffmpeg's in a format, back into a frame of our host.
PVideoFrame RawFrame(Environment& env, const std::string& bytes, const VideoInfo& vi, int n) {
  const PixelFormat f = *DescribePixelType(vi.pixel_type);
  PVideoFrame frame = env.NewVideoFrame(vi);
  size_t at = tool::RawFrameBytes(f, vi.width, vi.height) * static_cast<size_t>(n);
  for (int k = 0; k < SlotPlanes(f); ++k) {
    const int plane = kSlotPlaneIds[k];
    const PlaneSize size = PlaneSizeOf(f, vi.width, vi.height, k);
    for (int r = 0; r < size.height; ++r, at += static_cast<size_t>(size.row_bytes)) {
      const int line = f.bottom_up() ? size.height - 1 - r : r;
      std::memcpy(frame->GetWritePtr(plane) + static_cast<ptrdiff_t>(line) * frame->GetPitch(plane), bytes.data() + at,
                  static_cast<size_t>(size.row_bytes));
    }
  }
  return frame;
}

using ToolOutputTest = PluginHost;

TEST_F(ToolOutputTest, RawFramesInEveryFfmpegLayoutAndDeepRgbToSixteenBitPng) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  for (const char* name : {"bgr48le", "bgra64le", "gbrp", "gbrp12le", "gbrpf32le", "yuv422p10le", "grayf32le"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    ASSERT_EQ(Shell(dir, std::string("ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=25 -frames:v 2 -pix_fmt ") +
                             name + " -f rawvideo in.raw")
                  .status,
              0);
    const std::string script = std::string("RawSource(\"in.raw\", 320, 240, \"") + name + "\", 25).TallyTC()";
    const RunResult raw = RunTool(dir, {script, "--raw", "-o", "out.raw"});
    ASSERT_EQ(raw.status, 0) << raw.err;
    VideoInfo vi{};
    vi.width = 320;
    vi.height = 240;
    vi.pixel_type = tool::RawPixelType(name);
    const PixelFormat f = *DescribePixelType(vi.pixel_type);
    const std::string bytes = ReadFile(dir.Path("out.raw"));
    ASSERT_EQ(bytes.size(), 2 * tool::RawFrameBytes(f, 320, 240));
    EXPECT_EQ(ReadBox(env, RawFrame(env, bytes, vi, 1), f, WhereBoxGoes(f, 320, 240, 11, 1, 2, 0)), "00:00:00:01");
    EXPECT_EQ(
        Shell(dir, std::string("ffmpeg -v error -f rawvideo -pix_fmt ") + name + " -s 320x240 -i out.raw -f null -")
            .status,
        0);

    const RunResult png = RunTool(dir, {script, "--frame", "1", "-o", "out.png"});
    ASSERT_EQ(png.status, 0) << png.err;
    const std::string picture = ReadFile(dir.Path("out.png"));
    ASSERT_GT(picture.size(), 25u);
    EXPECT_EQ(static_cast<int>(picture[24]), f.rgb() && f.bits > 8 ? 16 : 8) << "PNG bit depth";
  }
}

// Today's material through the tool from one-line scripts, as ffmpeg hands
// it over: a readable, rightly labelled box at the automatic scale.
TEST_F(ToolOutputTest, OneLineScriptsForTodaysMaterial) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const struct {
    const char* size;
    const char* rate;
    const char* pix_fmt;
    const char* script;
    int scale;
    const char* text;
  } cases[] = {
      {"1920x1080", "50", "yuv420p", "Y4MSource(\"-\").TallyTC(start=\"09:59:59:49\")", 3, "10:00:00:00"},
      {"3840x2160", "60000/1001", "yuv422p10le", "Y4MSource(\"-\").TallyTC(start=\"00:00:59;59\")", 6, "00:01:00;04"},
      {"1280x720", "24000/1001", "yuv420p", "Y4MSource(\"-\").TallyTC(start=\"00:59:59:23\")", 2, "01:00:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    TempDir dir;
    const RunResult r =
        Shell(dir, std::string("ffmpeg -v error -f lavfi -i testsrc=size=") + c.size + ":rate=" + c.rate +
                       " -frames:v 2 -pix_fmt " + c.pix_fmt + " -strict -1 -f yuv4mpegpipe - | " +
                       Quote(TALLYBURN_TOOL_PATH) + " " + Quote(c.script) + " -o out.y4m");
    ASSERT_EQ(r.status, 0) << r.err;
    VideoInfo vi{};
    const auto frames = ParseY4m(env, ReadFile(dir.Path("out.y4m")), &vi);
    ASSERT_EQ(frames.size(), 2u);
    const PixelFormat f = *DescribePixelType(vi.pixel_type);
    EXPECT_EQ(ReadBox(env, frames[1], f, WhereBoxGoes(f, vi.width, vi.height, 11, c.scale, 2, 0)), c.text);
  }
}

}  // namespace
}  // namespace tallyburn::testing
