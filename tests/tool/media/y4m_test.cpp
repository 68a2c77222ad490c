// The YUV4MPEG2 reader and writer.
#include <gtest/gtest.h>
#include <ostream>

#include "tests/support/plugin_host.h"
#include "tests/tool/tool_support.h"
#include "tool/media/y4m.h"

namespace tallyburn::tool {
namespace {

std::string HeaderError(const std::string& bytes) {
  auto in = InputStream::FromMemory(std::vector<uint8_t>(bytes.begin(), bytes.end()), "in.y4m");
  try {
    ReadY4mHeader(*in);
  } catch (const ToolError& e) {
    return e.what();
  }
  return "";
}

struct HeaderCase {
  const char* header;
  const char* message;  // "" when accepted
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.header; }

class Y4mHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Y4mHeaderTest, ChecksEveryTag) { EXPECT_EQ(HeaderError(GetParam().header), GetParam().message); }

INSTANTIATE_TEST_SUITE_P(
    Table, Y4mHeaderTest,
    ::testing::Values(
        HeaderCase{"YUV4MPEG2 W64 H32 F25:1\n", ""},
        HeaderCase{"YUV4MPEG2 W64 H32 F30000:1001 It A1:1 C420mpeg2 XYSCSS=420MPEG2 XCOLORRANGE=LIMITED\n", ""},
        HeaderCase{"YUV4MPEG2 W64 H31 F25:1 C422\n", ""},  // 4:2:2 may have an odd height
        HeaderCase{"YUV4MPEG2 W64 H32 F0:0\n", ""}, HeaderCase{"", "in.y4m: empty input: no YUV4MPEG2 header"},
        HeaderCase{"YUV4MPEG2 W64 H32 F25:1", "in.y4m: header has no end of line"},
        HeaderCase{"RIFF....\n", "in.y4m: not a YUV4MPEG2 stream"},
        HeaderCase{"YUV4MPEG2X W64\n", "in.y4m: not a YUV4MPEG2 stream"},
        HeaderCase{"YUV4MPEG2 H32 F25:1\n", "in.y4m: header has no width (W)"},
        HeaderCase{"YUV4MPEG2 W64 F25:1\n", "in.y4m: header has no height (H)"},
        HeaderCase{"YUV4MPEG2 W64 H32\n", "in.y4m: header has no frame rate (F)"},
        HeaderCase{"YUV4MPEG2 W0 H32 F25:1\n", "in.y4m: width 'W0' must be between 1 and 16384"},
        HeaderCase{"YUV4MPEG2 W-64 H32 F25:1\n", "in.y4m: width 'W-64' must be between 1 and 16384"},
        HeaderCase{"YUV4MPEG2 W64 H16385 F25:1\n", "in.y4m: height 'H16385' must be between 1 and 16384"},
        HeaderCase{"YUV4MPEG2 W99999999999999999999 H2 F25:1\n",
                   "in.y4m: width 'W99999999999999999999' must be between 1 and 16384"},
        HeaderCase{"YUV4MPEG2 W 64 H32 F25:1\n", "in.y4m: width 'W' must be between 1 and 16384"},
        HeaderCase{"YUV4MPEG2 W63 H32 F25:1\n", "in.y4m: size 63x32 is not whole chroma samples of C420jpeg"},
        HeaderCase{"YUV4MPEG2 W64 H31 F25:1\n", "in.y4m: size 64x31 is not whole chroma samples of C420jpeg"},
        HeaderCase{"YUV4MPEG2 W63 H32 F25:1 C422\n", "in.y4m: size 63x32 is not whole chroma samples of C422"},
        HeaderCase{"YUV4MPEG2 W66 H32 F25:1 C411\n", "in.y4m: size 66x32 is not whole chroma samples of C411"},
        HeaderCase{"YUV4MPEG2 W64 H32 F25:0\n", "in.y4m: frame rate 'F25:0' has a zero denominator"},
        HeaderCase{"YUV4MPEG2 W64 H32 F25\n", "in.y4m: bad value in header tag 'F25'"},
        HeaderCase{"YUV4MPEG2 W64 H32 F25:1 A1\n", "in.y4m: bad value in header tag 'A1'"},
        HeaderCase{"YUV4MPEG2 W64 H32 F25:1 C444alpha\n",
                   "in.y4m: colour space 'C444alpha' is not supported (4:2:0, 4:2:2, 4:4:4, 4:1:1 and mono, 8 to 16 "
                   "bits)"},
        HeaderCase{"YUV4MPEG2 W64 H32 F25:1 C420p9\n",
                   "in.y4m: colour space 'C420p9' is not supported (4:2:0, 4:2:2, 4:4:4, 4:1:1 and mono, 8 to 16 "
                   "bits)"},
        HeaderCase{"YUV4MPEG2 W64 H32 F25:1 Im\n", "in.y4m: interlacing 'Im' is not supported (only Ip, It and Ib)"},
        HeaderCase{"YUV4MPEG2 W64 H32 F25:1 Zoom\n", "in.y4m: unknown header tag 'Zoom'"}));

TEST(Y4mHeaderTest, LongHeadersAreRefusedBeforeTheyGrow) {
  EXPECT_EQ(HeaderError("YUV4MPEG2 X" + std::string(5000, 'x') + "\n"), "in.y4m: header longer than 4096 bytes");
}

TEST(Y4mHeaderTest, ReadsFieldsAndFieldOrder) {
  const std::string bytes = "YUV4MPEG2 W720 H480 F30000:1001 Ib C422\n";
  auto in = InputStream::FromMemory(std::vector<uint8_t>(bytes.begin(), bytes.end()), "x");
  const Y4mHeader h = ReadY4mHeader(*in);
  EXPECT_EQ(h.width, 720);
  EXPECT_EQ(h.height, 480);
  EXPECT_EQ(h.fps_numerator, 30000u);
  EXPECT_EQ(h.fps_denominator, 1001u);
  EXPECT_EQ(h.pixel_type, VideoInfo::CS_YUY2);
  EXPECT_EQ(h.image_type, VideoInfo::IT_BFF);
  EXPECT_EQ(h.header_bytes, bytes.size());
}

class Y4mRoundTripTest : public testing::PluginHost, public ::testing::WithParamInterface<bool> {};

// Reading then writing gives back the same bytes, 4:2:2 through packed
// YUY2 included.
TEST_P(Y4mRoundTripTest, WriterGivesBackWhatTheReaderRead) {
  const bool yuv422 = GetParam();
  const std::string in = testing::MakeY4m(16, 6, 3, yuv422, " It A1:1");
  VideoInfo vi{};
  const auto frames = testing::ParseY4m(env, in, &vi);
  ASSERT_EQ(frames.size(), 3u);
  testing::TempDir dir;
  {
    auto out = OutputStream::Open(dir.Path("o.y4m"));
    Y4mWriter w(*out, vi);
    for (const auto& f : frames) w.WriteFrame(*f.get());
    out->Commit();
  }
  const std::string expect_header =
      std::string("YUV4MPEG2 W16 H6 F25:1 It A1:1 C") + (yuv422 ? "422" : "420jpeg") + "\n";
  const std::string got = testing::ReadFile(dir.Path("o.y4m"));
  EXPECT_EQ(got.substr(0, expect_header.size()), expect_header);
  EXPECT_EQ(got.substr(expect_header.size()), in.substr(in.find('\n') + 1));
}

INSTANTIATE_TEST_SUITE_P(Chroma, Y4mRoundTripTest, ::testing::Values(false, true));

TEST(Y4mFrameTest, DamagedFrameHeadersAreReported) {
  const std::vector<std::string> damaged = {"FRAMX\n", "FRAME", "FRAME+\n", "FRA",
                                            "FRAME " + std::string(2000, 'x') + "\n"};
  for (const std::string& bad : damaged) {
    auto in = InputStream::FromMemory(std::vector<uint8_t>(bad.begin(), bad.end()), "s");
    try {
      ReadY4mFrameHeader(*in, 7);
      ADD_FAILURE() << "accepted " << bad.substr(0, 10);
    } catch (const ToolError& e) {
      EXPECT_STREQ(e.what(), "s: damaged FRAME header at frame 7");
    }
  }
  const std::string params = "FRAME Ixyz\n";
  auto in = InputStream::FromMemory(std::vector<uint8_t>(params.begin(), params.end()), "s");
  EXPECT_TRUE(ReadY4mFrameHeader(*in, 0));
  EXPECT_FALSE(ReadY4mFrameHeader(*in, 1));  // a clean end
}

}  // namespace
}  // namespace tallyburn::tool
