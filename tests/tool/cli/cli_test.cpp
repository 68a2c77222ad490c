// The tallyburn tool as a user runs it: outputs, and every way bad input or
// a bad command line ends (one line on standard error, the exit status).
#include <gtest/gtest.h>
#include <png.h>
#include <ostream>

#include <cstdio>
#include <filesystem>

#include "tests/support/plugin_host.h"
#include "tests/support/readback.h"
#include "tests/tool/tool_support.h"

namespace tallyburn::testing {
namespace {

class CliTest : public PluginHost {
 protected:
  RunResult Run(const std::vector<std::string>& args, const std::string& in = "") { return RunTool(dir, args, in); }
  TempDir dir;
};

// Exactly one line, starting with the tool's name.
void ExpectOneErrorLine(const RunResult& r, const std::string& message) {
  EXPECT_EQ(r.err, "tallyburn: " + message + "\n");
}

TEST_F(CliTest, DefaultScriptRendersBarsWithBothOverlaysToAPng) {
  const RunResult r = Run({"-o", "bars.png", "--frame", "1799"});
  // ColorBars is 300 frames by default: 1799 is past its end.
  EXPECT_EQ(r.status, 1);
  ExpectOneErrorLine(r, "frame 1799 is past the clip's end (it has 300 frames, 0 to 299)");

  const RunResult ok = Run({"-o", "bars.png", "--frame", "123"});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "bars.png\n");

  FILE* f = std::fopen(dir.Path("bars.png").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_stdio(&image, f));
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
  std::fclose(f);
  EXPECT_EQ(image.width, 640u);
  EXPECT_EQ(image.height, 480u);
  const auto px = [&](int x, int y) { return &rgb[(static_cast<size_t>(y) * 640 + x) * 3]; };
  // The first bar is 75% white; the box's glyph background is black-ish
  // (luma 16) and the last blank columns are luma 0.
  EXPECT_NEAR(px(10, 10)[0], 191, 3);
  EXPECT_NEAR(px(10, 10)[2], 191, 3);
  EXPECT_EQ(px(365, 479)[0], 0);  // the box's last column, blank
  EXPECT_EQ(px(637, 470)[1], 0);  // the frame number's last blank column
}

TEST_F(CliTest, InfoDescribesTheClip) {
  const RunResult r = Run({"--info", "ColorBars(1920, 1080, \"YUY2\", length=3000, fps=25)"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "width       1920\nheight      1080\nframe rate  25/1 (25.000 fps)\nframes      3000\npixel type  YUY2\n");
  WriteFile(dir.Path("in.y4m"), MakeY4m(64, 32, 5, true));
  const RunResult y = Run({"--info", "Y4MSource(\"in.y4m\")"});
  EXPECT_NE(y.out.find("frames      5\n"), std::string::npos) << y.out;
  const RunResult pipe = Run({"--info", "Y4MSource(\"-\")"}, MakeY4m(64, 32, 5));
  EXPECT_NE(pipe.out.find("frames      5\n"), std::string::npos) << pipe.out;  // read to its end
}

TEST_F(CliTest, FrameRangesWriteExactlyThoseFrames) {
  const RunResult r = Run({"ColorBars(128, 64, length=100, fps=25).FrameTC()", "--frames", "30-34", "-o", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto frames = ParseY4m(env, r.out);
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(frameserver::ReadTimecode(*frames[0].get(), kYv12, 0, 0), "00000105");
  EXPECT_EQ(frameserver::ReadTimecode(*frames[4].get(), kYv12, 0, 0), "00000109");
}

TEST_F(CliTest, StreamsYuv422ThroughAsPlanar422) {
  const std::string in = MakeY4m(96, 20, 4, true);
  const RunResult r = Run({"Y4MSource(\"-\").FrameTC(offset=25)", "-o", "-"}, in);
  ASSERT_EQ(r.status, 0) << r.err;
  VideoInfo vi{};
  const auto frames = ParseY4m(env, r.out, &vi);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(vi.pixel_type, kYuy2);
  EXPECT_EQ(frameserver::ReadTimecode(*frames[3].get(), kYuy2, 0, 0), "00000103");
}

// FRAME lines may carry parameters: a file's size then overstates its
// length, and the clean end of the stream ends the job.
TEST_F(CliTest, FrameParametersInAFileAreAccepted) {
  std::string in = MakeY4m(96, 32, 3);
  for (size_t at = in.find("FRAME\n"); at != std::string::npos; at = in.find("FRAME\n", at + 12))
    in.replace(at, 6, "FRAME Ip XA=1\n");
  WriteFile(dir.Path("params.y4m"), in);
  const RunResult r = Run({"Y4MSource(\"params.y4m\").FrameTC()", "-o", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ParseY4m(env, r.out).size(), 3u);
  // A stated length is a promise: a stream ending before it is an error.
  const RunResult stated = Run({"Y4MSource(\"params.y4m\", length=5)", "-o", "-"});
  EXPECT_EQ(stated.status, 1);
  EXPECT_EQ(stated.err, "tallyburn: params.y4m: the stream ends after 3 of 5 frames\n");
  EXPECT_EQ(ParseY4m(env, stated.out).size(), 3u);
}

TEST_F(CliTest, OutputKeepsTheInputsChromaSitingAndAspect) {
  const RunResult r = Run({"Y4MSource(\"-\").FrameTC()", "-o", "-"}, MakeY4m(96, 32, 2, false, " C420mpeg2 A10:11"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "YUV4MPEG2 W96 H32 F25:1 Ip A10:11 C420mpeg2");
  // A generated clip: square pixels, the 4:2:0 siting of JPEG and MPEG-1.
  const RunResult bars = Run({"ColorBars(96, 32, fps=25)", "--frame", "0", "-o", "-"});
  EXPECT_EQ(bars.out.substr(0, bars.out.find('\n')), "YUV4MPEG2 W96 H32 F25:1 Ip A1:1 C420jpeg");
}

TEST_F(CliTest, RawVideoKeepsItsLineOrderBothWays) {
  // bgr24, top line first: the number must land in the file's last lines.
  const int w = 64, h = 20;
  std::string raw;
  for (int i = 0; i < w * h * 3 * 2; ++i) raw += static_cast<char>(i * 11 & 0x7F);
  WriteFile(dir.Path("in.bgr"), raw);
  const RunResult r = Run({"RawSource(\"in.bgr\", 64, 20, \"bgr24\", 25).Tallyburn()", "--raw", "-o", "out.bgr"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string out = ReadFile(dir.Path("out.bgr"));
  ASSERT_EQ(out.size(), raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    const size_t line = i / (w * 3) % h, x = i % (w * 3) / 3;
    const bool in_box = line >= h - 14 && x >= w - 10;  // one digit: "0", "1"
    if (!in_box) {
      ASSERT_EQ(out[i], raw[i]) << "byte " << i;
    }
  }
  // The bottom line of frame 1 is glyph row 0 of "1": the one's foot.
  const size_t bottom = (static_cast<size_t>(w) * h * 3) + static_cast<size_t>(h - 1) * w * 3;
  for (int c = 0; c < 8; ++c) EXPECT_EQ(static_cast<uint8_t>(out[bottom + (w - 10 + c) * 3]), 255);
}

TEST_F(CliTest, OnePngWithoutAFrameNumberShowsFrameZero) {
  const RunResult r = Run({"BlankClip(96, 32, length=3).Tallyburn()", "-o", "one.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "one.png\n");
  EXPECT_FALSE(ReadFile(dir.Path("one.png")).empty());
}

TEST_F(CliTest, ProgressShowsFramesDoneOnOneLine) {
  const RunResult r = Run({"BlankClip(96, 32, length=3)", "--progress", "-o", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.front(), '\r');
  EXPECT_NE(r.err.find("frame 3/3"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);  // one updating line, ended once
  EXPECT_EQ(ParseY4m(env, r.out).size(), 3u);
}

TEST_F(CliTest, PngPatternWritesOneFilePerFrame) {
  const RunResult r = Run({"BlankClip(96, 32, length=3, color=$FF0000).Tallyburn()", "-o", "f%03d.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "f000.png\nf001.png\nf002.png\n");
  for (const char* name : {"f000.png", "f001.png", "f002.png"}) EXPECT_FALSE(ReadFile(dir.Path(name)).empty());
}

// TallySync in a script on the command line: the pictures come out as
// they went in (the tool writes no script sound), a bad period is one line.
TEST_F(CliTest, TallySyncPassesThePicturesOn) {
  const RunResult plain = Run({"ColorBars(96, 32, length=4)", "-o", "-"});
  const RunResult synced = Run({"ColorBars(96, 32, length=4).TallySync(period=0.5, level=-6.0)", "-o", "-"});
  ASSERT_EQ(synced.status, 0) << synced.err;
  EXPECT_FALSE(plain.out.empty());
  EXPECT_EQ(synced.out, plain.out);
  const RunResult bad = Run({"ColorBars(96, 32, length=4).TallySync(period=0.0)", "-o", "-"});
  EXPECT_EQ(bad.status, 1);
  ExpectOneErrorLine(bad, "script column 29: TallySync: period must be more than 0 and at most 3600 seconds, not 0");
}

constexpr size_t kFrameBytes = 6 + 96 * 32 * 3 / 2;  // "FRAME\n" and a 96x32 4:2:0 picture

struct BadInput {
  const char* name;
  std::string input;  // standard input
  std::vector<std::string> args;
  int status;
  std::string message;
  size_t frames_written;  // whole frames on standard output
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

class CliBadInputTest : public CliTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(CliBadInputTest, EndsWithOneLineAndWholeFramesOnly) {
  const BadInput& c = GetParam();
  const RunResult r = Run(c.args, c.input);
  EXPECT_EQ(r.status, c.status);
  ExpectOneErrorLine(r, c.message);
  if (c.frames_written == 0) {
    EXPECT_TRUE(r.out.empty()) << r.out.size() << " bytes written";
  } else {
    EXPECT_EQ(ParseY4m(env, r.out).size(), c.frames_written);
    EXPECT_EQ(r.out.size(), r.out.find('\n') + 1 + c.frames_written * kFrameBytes);
  }
}

const std::string kGood = MakeY4m(96, 32, 3);
const std::string kHeader = kGood.substr(0, kGood.find('\n') + 1);
const size_t kFrame = kFrameBytes;
const std::vector<std::string> kPipe = {"Y4MSource(\"-\").FrameTC()", "-o", "-"};

INSTANTIATE_TEST_SUITE_P(
    Cases, CliBadInputTest,
    ::testing::Values(
        BadInput{"truncated", kGood.substr(0, kHeader.size() + kFrame + 100), kPipe, 1,
                 "standard input: truncated frame 1 (got 94 of 4608 bytes)", 1},
        BadInput{"truncated_header", kGood.substr(0, kHeader.size() + kFrame + 3), kPipe, 1,
                 "standard input: damaged FRAME header at frame 1", 1},
        BadInput{"damaged_frame", kHeader + "FRAMX\n" + std::string(4608, 'a'), kPipe, 1,
                 "standard input: damaged FRAME header at frame 0", 0},
        BadInput{"no_width", "YUV4MPEG2 H32 F25:1\n", kPipe, 1,
                 "script column 1: Y4MSource: standard input: header has no width (W)", 0},
        BadInput{"zero_width", "YUV4MPEG2 W0 H32 F25:1\n", kPipe, 1,
                 "script column 1: Y4MSource: standard input: width 'W0' must be between 1 and 16384", 0},
        BadInput{"negative_height", "YUV4MPEG2 W64 H-2 F25:1\n", kPipe, 1,
                 "script column 1: Y4MSource: standard input: height 'H-2' must be between 1 and 16384", 0},
        BadInput{"huge", "YUV4MPEG2 W16385 H16385 F25:1\n", kPipe, 1,
                 "script column 1: Y4MSource: standard input: width 'W16385' must be between 1 and 16384", 0},
        BadInput{"odd_420", "YUV4MPEG2 W63 H33 F25:1\n", kPipe, 1,
                 "script column 1: Y4MSource: standard input: size 63x33 is not whole chroma samples of C420jpeg", 0},
        BadInput{"colour_space", "YUV4MPEG2 W64 H32 F25:1 C444alpha\n", kPipe, 1,
                 "script column 1: Y4MSource: standard input: colour space 'C444alpha' is not supported (4:2:0, "
                 "4:2:2, 4:4:4, 4:1:1 and mono, 8 to 16 bits)",
                 0},
        BadInput{"missing_file",
                 "",
                 {"Y4MSource(\"nope.y4m\")", "-o", "-"},
                 1,
                 "script column 1: Y4MSource: nope.y4m: cannot open: No such file or directory",
                 0},
        BadInput{"filter_error",
                 kGood,
                 {"Y4MSource(\"-\").FrameTC(y=19)", "-o", "-"},
                 1,
                 "script column 16: FrameTC: y value is invalid",
                 0},
        BadInput{"rgb_to_y4m",
                 "",
                 {"ColorBars(pixel_type=\"RGB32\")", "-o", "-"},
                 1,
                 "-: a clip in RGB32 cannot be written as YUV4MPEG2: use --raw, a .png output or a media file",
                 0},
        BadInput{"past_the_stream",
                 kGood,
                 {"Y4MSource(\"-\")", "--frame", "5", "-o", "x.png"},
                 1,
                 "frame 5 is past the clip's end (it has 3 frames, 0 to 2)",
                 0},
        BadInput{"unknown_option", "", {"--fast"}, 2, "unknown option --fast (see --help)", 0},
        BadInput{"bad_range", "", {"--frames", "9-2", "-o", "-"}, 2, "--frames 9-2: the range is backwards", 0},
        BadInput{"bad_frame", "", {"--frame", "x", "-o", "-"}, 2, "--frame: \"x\" is not a frame number", 0},
        BadInput{"two_scripts", "", {"A()", "B()"}, 2, "one SCRIPT only; quote it as one argument", 0},
        BadInput{"option_before_verify",
                 "",
                 {"--plugin", "libtallyburn.so", "verify", "in.y4m"},
                 2,
                 "verify comes first: tallyburn verify [options] [INPUT] (options before it are not verify's)",
                 0},
        BadInput{"unknown_format",
                 "",
                 {"-o", "x.frames"},
                 2,
                 "x.frames: cannot tell the output format: name it .y4m, .png, a media file (.mp4, .mov, .mkv, .mxf, "
                 "...) or -, or give --raw",
                 0},
        BadInput{"png_takes_one_frame",
                 "",
                 {"-o", "x.png", "--frames", "0-5"},
                 2,
                 "x.png: one PNG holds one frame: give --frame N, or a %d pattern in the name",
                 0},
        BadInput{"bad_pattern",
                 "",
                 {"-o", "x%s.png"},
                 1,
                 "x%s.png: a frame pattern takes %d or %0Nd (N from 1 to 9); write %% for a per cent sign",
                 0},
        BadInput{
            "bad_plugin",
            "",
            {"--plugin", "/nonexistent.so", "-o", "-"},
            1,
            "LoadPlugin: cannot load \"/nonexistent.so\": /nonexistent.so: cannot open shared object file: No such "
            "file or directory",
            0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CliTest, AClosedOutputPipeIsAnError) {
  const RunResult r = Shell(dir, "{ " + Quote(TALLYBURN_TOOL_PATH) + " -o - 2> err; echo $? > status; } | true");
  EXPECT_EQ(ReadFile(dir.Path("status")), "1\n");
  EXPECT_EQ(ReadFile(dir.Path("err")), "tallyburn: standard output: the reader closed the pipe\n");
}

// The README's frame-server example, with only its source changed.
TEST_F(CliTest, ScriptFilesRunAsInAFrameServer) {
  WriteFile(dir.Path("dailies.y4m"), MakeY4m(320, 240, 30));
  WriteFile(dir.Path("dailies.avs"),
            "LoadPlugin(\"/usr/local/lib/avisynth/libtallyburn.so\")\n"
            "Y4MSource(\"dailies.y4m\")\n"
            "TallyTC(start=\"01:00:00:00\")           # at the clip's own rate\n"
            "TallyFrame(align=9)                    # frame number at the top right\n");
  const RunResult r = Run({"dailies.avs", "-o", "out.y4m"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ParseY4m(env, ReadFile(dir.Path("out.y4m"))).size(), 30u);

  WriteFile(dir.Path("bad.avs"), "# a comment line\nBlankClip()\nFrameTC(orientation=7)\n");
  const RunResult bad = Run({"bad.avs", "-o", "-"});
  EXPECT_EQ(bad.status, 1);
  ExpectOneErrorLine(bad,
                     "bad.avs line 3, column 1: FrameTC: Orientation value must be 0 (right), 1 (left) or 2 (center)");
}

TEST_F(CliTest, AMissingPluginSaysWhereItWasLookedFor) {
  // The tool alone in a folder, with no plug-in beside it or installed.
  const std::string lone = dir.Path("bin/tallyburn");
  std::filesystem::create_directories(dir.Path("bin"));
  std::filesystem::copy_file(TALLYBURN_TOOL_PATH, lone);
  std::filesystem::permissions(lone, std::filesystem::perms::owner_all);
  const RunResult r = Shell(dir, Quote(lone) + " 'ColorBars().FrameTC()' -o -");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tallyburn: script column 13: there is no function named \"FrameTC\" (no plug-in is loaded: "
            "looked for " +
                dir.Path("bin/libtallyburn.so") + " and " + dir.Path("lib/avisynth/libtallyburn.so") +
                "; give --plugin PATH)\n");
}

TEST_F(CliTest, HelpDocumentsTheOptionsAndExamples) {
  const RunResult r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* word : {"--output", "--raw", "--frame N", "--frames A-B", "--info", "--progress", "--plugin",
                           "Y4MSource", "RawSource", "ColorBars", "BlankClip", "Exit status", "ffmpeg"})
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace tallyburn::testing
