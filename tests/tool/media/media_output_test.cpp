// Media file outputs and the source's timecode, on files ffmpeg makes in
// each test: the frames an encoder stores are the tool's own (hashed after
// ffmpeg decodes a lossless one, read back by verify after a lossy one),
// a bad codec or option is one line and no file, and SourceTimecode reads
// what each container records. Needs ffmpeg; skips without it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>

#include <nlohmann/json.hpp>

#include "sync/tally_sync.h"
#include "tests/support/plugin_host.h"
#include "tests/support/text_box_reader.h"
#include "tests/tool/tool_support.h"

namespace tallyburn::testing {
namespace {

bool HaveFfmpeg() { return std::system("command -v ffmpeg > /dev/null 2>&1 && command -v ffprobe > /dev/null") == 0; }

class MediaTest : public PluginHost {
 protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed; .ci/run installs them";
  }
  RunResult Tool(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--no-progress"};
    all.insert(all.end(), args.begin(), args.end());
    return RunTool(dir, all);
  }
  // Runs ffmpeg or ffprobe (quiet) and expects it to succeed.
  std::string Ff(const std::string& command) {
    const RunResult r = Shell(dir, command);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
    return r.out;
  }
  std::string Probe(const std::string& file, const std::string& entries, const std::string& select = "v:0") {
    return Ff("ffprobe -v error -select_streams " + select + " -show_entries " + entries +
              " -of default=noprint_wrappers=1 " + file);
  }
  // The frames of a YUV4MPEG2 stream, from the first FRAME on: two
  // streams of the same pictures compare equal whatever tags their
  // headers carry.
  static std::string Frames(const std::string& y4m) {
    const size_t at = y4m.find("FRAME");
    return at == std::string::npos ? "" : y4m.substr(at);
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir.Path(name)); }
  // Files the tool left beside an output: only the output itself.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      if (e.path().filename().string().find(".tallyburn-") != std::string::npos)
        names.push_back(e.path().filename().string());
    return names;
  }
  TempDir dir;
};

struct LosslessCase {
  const char* name;
  const char* input;   // ffmpeg arguments making in.y4m, or "" for the bars
  const char* script;  // of the tool
  const char* output;
  const char* codec;
  const char* options;
  const char* decode;  // ffmpeg's output arguments giving the tool's own --raw or y4m bytes
  bool raw;            // compare with --raw rather than YUV4MPEG2
  const char* probe;   // what ffprobe says of the stored video
};

void PrintTo(const LosslessCase& c, std::ostream* os) { *os << c.name; }

class LosslessOutputTest : public MediaTest, public ::testing::WithParamInterface<LosslessCase> {};

// The stored frames are the tool's, byte for byte: ffmpeg's decode of the
// file equals the tool's own YUV4MPEG2 (or raw) output of the same script.
TEST_P(LosslessOutputTest, StoresTheToolsFrames) {
  const LosslessCase& c = GetParam();
  if (c.input[0] != '\0') Ff(std::string("ffmpeg -v error -f lavfi -i ") + c.input + " in.y4m");
  std::vector<std::string> args = {c.script, "-o", c.output};
  if (c.codec[0] != '\0') args.insert(args.end(), {"--codec", c.codec});
  if (c.options[0] != '\0') args.insert(args.end(), {"--codec-options", c.options});
  const RunResult r = Tool(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const RunResult ref = c.raw ? Tool({c.script, "--raw", "-o", "ref"}) : Tool({c.script, "-o", "-"});
  ASSERT_EQ(ref.status, 0) << ref.err;
  const std::string mine = c.raw ? ReadFile(dir.Path("ref")) : Frames(ref.out);
  const std::string back = Ff(std::string("ffmpeg -v error -i ") + c.output + " " + c.decode + " -");
  ASSERT_FALSE(mine.empty());
  EXPECT_TRUE((c.raw ? back : Frames(back)) == mine) << "the decoded frames differ from the tool's";
  EXPECT_EQ(Probe(c.output, "stream=codec_name,pix_fmt"), c.probe);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, LosslessOutputTest,
    ::testing::Values(
        LosslessCase{"ffv1_mkv_420", "", "ColorBars(160, 48, length=12, fps=25).TallyTC()", "out.mkv", "ffv1", "",
                     "-f yuv4mpegpipe", false, "codec_name=ffv1\npix_fmt=yuv420p\n"},
        LosslessCase{"ffv1_mkv_422_10bit", "testsrc=size=160x48:rate=25 -frames:v 10 -pix_fmt yuv422p10le -strict -1",
                     "Y4MSource(\"in.y4m\").TallyTC()", "out.mkv", "ffv1", "", "-f yuv4mpegpipe -strict -1", false,
                     "codec_name=ffv1\npix_fmt=yuv422p10le\n"},
        LosslessCase{"ffv1_nut_444_12bit", "testsrc=size=160x48:rate=25 -frames:v 6 -pix_fmt yuv444p12le -strict -1",
                     "Y4MSource(\"in.y4m\").TallyFrame()", "out.nut", "ffv1", "", "-f yuv4mpegpipe -strict -1", false,
                     "codec_name=ffv1\npix_fmt=yuv444p12le\n"},
        // Lines of a whole SIMD width: the encoder reads the host's frames
        // where they lie, and must still store what they held then.
        LosslessCase{"ffv1_mkv_420_lent", "", "ColorBars(256, 48, length=12, fps=25).TallyTC()", "out.mkv", "ffv1", "",
                     "-f yuv4mpegpipe", false, "codec_name=ffv1\npix_fmt=yuv420p\n"},
        LosslessCase{"x264_lossless_420_lent", "", "ColorBars(1024, 64, length=30, fps=25).TallyFrame()", "out.mkv",
                     "libx264", "qp=0", "-f yuv4mpegpipe", false, "codec_name=h264\npix_fmt=yuv420p\n"},
        LosslessCase{"ffv1_mkv_422_10bit_lent",
                     "testsrc=size=256x48:rate=25 -frames:v 10 -pix_fmt yuv422p10le -strict -1",
                     "Y4MSource(\"in.y4m\").TallyTC()", "out.mkv", "ffv1", "", "-f yuv4mpegpipe -strict -1", false,
                     "codec_name=ffv1\npix_fmt=yuv422p10le\n"},
        // The classic YUY2 frames go to the encoder as planar 4:2:2.
        LosslessCase{"x264_lossless_mp4_yuy2", "", "ColorBars(160, 48, \"YUY2\", length=8, fps=25).Tallyburn()",
                     "out.mp4", "libx264", "qp=0", "-f yuv4mpegpipe", false, "codec_name=h264\npix_fmt=yuv422p\n"},
        LosslessCase{"x264_lossless_default_codec", "", "ColorBars(160, 48, length=8, fps=30000, fps_denominator=1001)",
                     "out.mkv", "", "qp=0", "-f yuv4mpegpipe", false, "codec_name=h264\npix_fmt=yuv420p\n"},
        // Packed RGB is stored bottom line up in the host's frames.
        LosslessCase{"ffv1_rgb24", "", "ColorBars(160, 48, \"RGB24\", length=6, fps=25).TallyTC()", "out.mkv", "ffv1",
                     "", "-f rawvideo -pix_fmt bgr24", true, "codec_name=ffv1\npix_fmt=bgr0\n"},
        LosslessCase{"ffv1_rgb32", "", "ColorBars(160, 48, \"RGB32\", length=6, fps=25).TallyTC()", "out.avi", "ffv1",
                     "", "-f rawvideo -pix_fmt bgra", true, "codec_name=ffv1\npix_fmt=bgra\n"}),
    [](const auto& p) { return std::string(p.param.name); });

struct LossyCase {
  const char* name;
  const char* input;  // ffmpeg arguments making in.y4m, or "" for the bars
  const char* output;
  std::vector<std::string> args;
  const char* probe;  // codec_name, profile and pix_fmt
};

void PrintTo(const LossyCase& c, std::ostream* os) { *os << c.name; }

class LossyOutputTest : public MediaTest, public ::testing::WithParamInterface<LossyCase> {};

// Every frame arrives once and in order, at the container's default codec
// and with options: verify reads each frame's code back.
TEST_P(LossyOutputTest, KeepsEveryFrameInOrder) {
  const LossyCase& c = GetParam();
  if (c.input[0] != '\0') Ff(std::string("ffmpeg -v error -f lavfi -i ") + c.input + " in.y4m");
  std::vector<std::string> args = {
      c.input[0] != '\0' ? "Y4MSource(\"in.y4m\").TallyId()" : "ColorBars(576, 64, length=24, fps=25).TallyId()", "-o",
      c.output};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const RunResult r = Tool(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Probe(c.output, "stream=codec_name,profile,pix_fmt,width,height"), c.probe);
  const RunResult v = Shell(dir, std::string("ffmpeg -v error -i ") + c.output + " -f yuv4mpegpipe -strict -1 - | " +
                                     Quote(TALLYBURN_TOOL_PATH) + " verify --no-progress --expect 0-23 -");
  EXPECT_EQ(v.status, 0) << v.err;
  EXPECT_EQ(Probe(c.output, "stream=nb_read_frames", "v:0 -count_frames"), "nb_read_frames=24\n");
}

INSTANTIATE_TEST_SUITE_P(
    Containers, LossyOutputTest,
    ::testing::Values(
        LossyCase{
            "mp4_default", "", "out.mp4", {}, "codec_name=h264\nprofile=High\nwidth=576\nheight=64\npix_fmt=yuv420p\n"},
        LossyCase{"mp4_options",
                  "",
                  "out.mp4",
                  {"--codec-options", "crf=18:preset=fast"},
                  "codec_name=h264\nprofile=High\nwidth=576\nheight=64\npix_fmt=yuv420p\n"},
        LossyCase{"mov_default_prores_hq",
                  "",
                  "out.mov",
                  {},
                  "codec_name=prores\nprofile=HQ\nwidth=576\nheight=64\npix_fmt=yuv422p10le\n"},
        LossyCase{"mov_prores_lt",
                  "",
                  "out.mov",
                  {"--codec-options", "profile=lt"},
                  "codec_name=prores\nprofile=LT\nwidth=576\nheight=64\npix_fmt=yuv422p10le\n"},
        LossyCase{"mxf_default",
                  "",
                  "out.mxf",
                  {},
                  "codec_name=mpeg2video\nprofile=Main\nwidth=576\nheight=64\npix_fmt=yuv420p\n"},
        LossyCase{"mkv_x264_10bit",
                  "testsrc=size=576x64:rate=25 -frames:v 24 -pix_fmt yuv420p10le -strict -1",
                  "out.mkv",
                  {"--codec", "libx264"},
                  "codec_name=h264\nprofile=High 10\nwidth=576\nheight=64\npix_fmt=yuv420p10le\n"},
        LossyCase{"mov_prores_444_10bit",
                  "testsrc=size=576x64:rate=25 -frames:v 24 -pix_fmt yuv444p10le -strict -1",
                  "out.mov",
                  {"--codec-options", "profile=4444"},
                  // FFmpeg's ProRes decoder gives 4444 as 12-bit.
                  "codec_name=prores\nprofile=4444\nwidth=576\nheight=64\npix_fmt=yuv444p12le\n"}),
    [](const auto& p) { return std::string(p.param.name); });

// A bad encoder, container or option is one line before anything is
// written: no output, no temporary file; an old output stays as it was.
TEST_F(MediaTest, BadCodecOrOptionIsOneLineAndNoFile) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;  // the whole line, or its start where it ends with "..."
  } cases[] = {
      {{"-o", "out.mp4", "--codec", "nosuch"},
       2,
       "--codec nosuch: this FFmpeg has no video encoder of that name (ffmpeg -encoders lists them)"},
      {{"-o", "out.mp4", "--codec", "aac"},
       2,
       "--codec aac: this FFmpeg has no video encoder of that name (ffmpeg -encoders lists them)"},
      {{"-o", "out.mp4", "--codec", "ffv1"},
       2,
       "out.mp4: the mp4 container cannot hold ffv1 video: give another --codec, or another extension"},
      {{"-o", "out.mp4", "--codec-options", "nosuch=1"},
       2,
       "--codec-options: libx264 has no option \"nosuch\" (ffmpeg -h encoder=libx264 lists them)"},
      {{"-o", "out.mp4", "--codec-options", "crf=abc"}, 2, "--codec-options: libx264 does not take crf=abc"},
      {{"-o", "out.mp4", "--codec-options", "crf"},
       2,
       "--codec-options \"crf\": give key=value pairs separated by ':'"},
      {{"-o", "out.mkv", "--codec", "ffv1", "--codec-options", "context=9"},
       2,
       "--codec-options: ffv1 does not take context=9"},
      {{"-o", "out.mp4", "--codec-options", "preset=nonsense"}, 1, "out.mp4: libx264 cannot encode this clip: ..."},
      {{"-o", "out.y4m", "--codec", "libx264"},
       2,
       "--codec, --codec-options and --audio-codec are for a media file (.mp4, .mov, .mkv, .mxf, ...), not out.y4m"},
      {{"-o", "-", "--codec-options", "crf=18"},
       2,
       "--codec, --codec-options and --audio-codec are for a media file (.mp4, .mov, .mkv, .mxf, ...), not standard "
       "output"},
      {{"-o", "out.y4m", "--audio-codec", "aac"},
       2,
       "--codec, --codec-options and --audio-codec are for a media file (.mp4, .mov, .mkv, .mxf, ...), not out.y4m"},
      {{"-o", "out.mp4", "--audio-codec", "nosuch"},
       2,
       "--audio-codec nosuch: this FFmpeg has no sound encoder of that name (ffmpeg -encoders lists them)"},
      {{"-o", "out.mp4", "--audio-codec", "libx264"},
       2,
       "--audio-codec libx264: this FFmpeg has no sound encoder of that name (ffmpeg -encoders lists them)"},
      {{"-o", "out.mp4", "--audio-codec", "pcm_s16le"},
       2,
       "out.mp4: the mp4 container cannot hold pcm_s16le sound: give another --audio-codec, or another extension"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"ColorBars(64, 48, length=2)"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = Tool(args);
    EXPECT_EQ(r.status, c.status) << c.message;
    const std::string want = "tallyburn: " + c.message;
    if (want.ends_with("...")) {
      EXPECT_EQ(r.err.substr(0, want.size() - 3), want.substr(0, want.size() - 3));
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    } else {
      EXPECT_EQ(r.err, want + "\n");
    }
    EXPECT_FALSE(Exists("out.mp4") || Exists("out.mkv") || Exists("out.y4m")) << c.message;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  }

  // A run that fails after frames were encoded leaves the old file.
  WriteFile(dir.Path("out.mp4"), "old");
  WriteFile(dir.Path("cut.y4m"), MakeY4m(64, 48, 3).substr(0, 64 * 48 * 2));
  const RunResult cut = Tool({"Y4MSource(\"cut.y4m\")", "-o", "out.mp4"});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.err.find('\n'), cut.err.size() - 1) << cut.err;
  EXPECT_EQ(ReadFile(dir.Path("out.mp4")), "old");
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A refusal after the video encoder opened (the clip's sound encoder; the
// container's header, over the temporary file) is one line, and leaves an
// old output as it was and no temporary file. The sanitized build checks
// that what opened before it is freed.
TEST_F(MediaTest, RefusalAfterTheEncoderOpenedLeavesNothing) {
  const struct {
    const char* script;
    std::vector<std::string> args;
    const char* output;
    std::string message;  // the line's start
  } cases[] = {
      {"ColorBars(160, 64, length=12, fps=30000, fps_denominator=1001).TallyId().TallySync(period=0.5)",
       {"--audio-codec", "opus"},  // FFmpeg's own Opus encoder is experimental
       "out.mkv",
       "out.mkv: cannot encode the clip's sound as opus: "},
      {"ColorBars(160, 64, length=12, fps=7)",
       {"--codec", "ffv1"},
       "out.mxf",
       "out.mxf: cannot write the container's header: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    WriteFile(dir.Path(c.output), "old");
    std::vector<std::string> args = {c.script, "-o", c.output};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = Tool(args);
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string want = "tallyburn: " + c.message;
    EXPECT_EQ(r.err.substr(0, want.size()), want);
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(ReadFile(dir.Path(c.output)), "old");
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  }
}

// A clip that makes its own sound (TallySync) takes it into the file, as
// PCM in MOV and MKV, as AAC in MP4 or with the codec asked for, in step
// with the frames written: verify measures every mark at no offset, and
// PCM holds the marks' own samples from the first frame written.
TEST_F(MediaTest, ClipSoundIsEncodedInStepWithTheFrames) {
  const struct {
    const char* output;
    std::vector<std::string> args;
    const char* codec;  // what ffprobe says of the sound
    int first, last;    // the frames written
  } cases[] = {
      {"out.mov", {}, "pcm_s16le", 0, 119},
      {"out.mkv", {}, "pcm_s16le", 0, 119},
      {"out.mov", {"--frames", "37-100"}, "pcm_s16le", 37, 100},
      {"out.mp4", {}, "aac", 0, 119},
      {"out.mp4", {"--audio-codec", "libopus"}, "opus", 0, 119},
      {"out.mkv", {"--audio-codec", "pcm_f32le", "--frames", "15-119"}, "pcm_f32le", 15, 119},
  };
  constexpr double kToleranceMs = 1.0;
  const std::string script =
      "ColorBars(160, 64, length=120, fps=30000, fps_denominator=1001).TallyId().TallySync(period=0.5)";
  sync::SyncRequest request;
  request.fps_num = 30000, request.fps_den = 1001, request.num_frames = 120, request.period = 0.5;
  const sync::SyncPlan plan = *sync::PlanSync(request).plan;
  const sync::MarkGenerator marks(plan);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.output) + " " + c.codec + " frames " + std::to_string(c.first));
    std::vector<std::string> args = {script, "-o", c.output};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = Tool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(c.output, "stream=codec_name,sample_rate,channels", "a"),
              std::string("codec_name=") + c.codec + "\nsample_rate=48000\nchannels=2\n");

    const RunResult v = RunTool(dir, {"verify", c.output, "--json", "r.json"});
    EXPECT_EQ(v.status, 0) << v.err;
    const nlohmann::json report = nlohmann::json::parse(ReadFile(dir.Path("r.json")));
    ASSERT_TRUE(report.contains("sync_summary")) << v.err;
    // A mark at every 15th frame written.
    const int want = c.last / 15 - (c.first + 14) / 15 + 1;
    EXPECT_EQ(report["sync_summary"]["measured"].get<int>(), want) << v.err;
    for (const nlohmann::json& e : report["sync"]) {
      if (e["status"] != "measured") continue;
      EXPECT_LE(std::abs(e["offset_ms"].get<double>()), kToleranceMs) << "number " << e["number"];
    }

    if (std::string(c.codec) == "pcm_s16le") {
      const int64_t from = sync::SampleOfFrame(plan, c.first), to = sync::SampleOfFrame(plan, c.last + 1);
      std::string samples(static_cast<size_t>((to - from) * 4), '\0');
      marks.Fill(samples.data(), from, to - from, sync::SampleType::kInt16);
      EXPECT_TRUE(Ff("ffmpeg -v error -i " + std::string(c.output) + " -map 0:a -f s16le -") == samples)
          << "the stored sound is not the marks of frames " << c.first << "-" << c.last;
    }
  }
}

// What a YUV4MPEG2 input says of its picture (field order, aspect, range)
// is said on the encoded stream.
TEST_F(MediaTest, Y4mTagsFollowIntoTheStream) {
  Ff("ffmpeg -v error -f lavfi -i testsrc=size=160x48:rate=25 -frames:v 4 -pix_fmt yuv420p -color_range pc -vf "
     "setsar=16/15,setfield=tff -f yuv4mpegpipe in.y4m");
  const RunResult r = Tool({"Y4MSource(\"in.y4m\").TallyTC()", "-o", "out.mkv", "--codec", "ffv1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Probe("out.mkv", "stream=sample_aspect_ratio,color_range,field_order"),
            "sample_aspect_ratio=16:15\ncolor_range=pc\nfield_order=tt\n");
}

// The help and --info come from the table of outputs.
TEST_F(MediaTest, HelpAndInfoNameTheOutputs) {
  const RunResult help = Tool({"--help"});
  for (const char* name : {"y4m: ", "raw: ", "png: ", "media: "})
    EXPECT_NE(help.out.find(name), std::string::npos) << name;
  const RunResult info = Tool({"--info", "ColorBars(64, 48, length=2)", "-o", "a.mov"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("output      a.mov: mov, prores_ks, converted from yuv420p to yuv422p10le\n"),
            std::string::npos)
      << info.out;
  EXPECT_FALSE(Exists("a.mov"));
}

struct TimecodeCase {
  const char* name;
  const char* make;  // ffmpeg's output options and file
  const char* file;
  int fps_num, fps_den;
  const char* label;
};

void PrintTo(const TimecodeCase& c, std::ostream* os) { *os << c.name; }

class SourceTimecodeTest : public MediaTest, public ::testing::WithParamInterface<TimecodeCase> {};

// SourceTimecode gives TallyTC the label each container records: read
// back from the burned box.
TEST_P(SourceTimecodeTest, StartsTallyTcAtTheFilesTimecode) {
  const TimecodeCase& c = GetParam();
  const std::string rate = std::to_string(c.fps_num) + "/" + std::to_string(c.fps_den);
  Ff("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=" + rate + " -frames:v 3 " + c.make);
  const std::string script = "ColorBars(160, 48, length=2, fps=" + std::to_string(c.fps_num) +
                             ", fps_denominator=" + std::to_string(c.fps_den) + ").TallyTC(start=SourceTimecode(\"" +
                             c.file + "\"))";
  const RunResult r = Tool({script, "-o", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto frames = ParseY4m(env, r.out);
  ASSERT_EQ(frames.size(), 2u);
  const PixelFormat f = *DescribePixelType(kYv12);
  const ExpectedBox box = WhereBoxGoes(f, 160, 48, 11, 1, 2, 0);
  EXPECT_EQ(ReadBox(env, frames[0], f, box), c.label);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, SourceTimecodeTest,
    ::testing::Values(
        TimecodeCase{"mov_2997_drop", "-c:v prores_ks -timecode '01:00:00;00' a.mov", "a.mov", 30000, 1001,
                     "01:00:00;00"},
        TimecodeCase{"mov_25", "-c:v mpeg4 -timecode 10:00:00:00 a.mov", "a.mov", 25, 1, "10:00:00:00"},
        TimecodeCase{"mp4_25", "-c:v libx264 -timecode 00:59:59:24 a.mp4", "a.mp4", 25, 1, "00:59:59:24"},
        TimecodeCase{"mxf_25", "-c:v mpeg2video -timecode 10:00:00:00 a.mxf", "a.mxf", 25, 1, "10:00:00:00"},
        TimecodeCase{"mxf_2997_drop", "-c:v mpeg2video -timecode '01:00:00;00' a.mxf", "a.mxf", 30000, 1001,
                     "01:00:00;00"},
        TimecodeCase{"mkv_tag", "-c:v ffv1 -metadata timecode=02:00:00:12 a.mkv", "a.mkv", 25, 1, "02:00:00:12"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(MediaTest, SourceTimecodeNamesAFileWithout) {
  Ff("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 2 -c:v ffv1 plain.mkv");
  const RunResult none = Tool({"ColorBars(160, 48).TallyTC(start=SourceTimecode(\"plain.mkv\"))", "-o", "-"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err,
            "tallyburn: script column 34: SourceTimecode: plain.mkv has no timecode (no timecode track, and no "
            "timecode tag on its streams or the file)\n");
  const RunResult missing = Tool({"ColorBars(160, 48).TallyTC(start=SourceTimecode(\"gone.mov\"))", "-o", "-"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err,
            "tallyburn: script column 34: SourceTimecode: gone.mov: cannot open: No such file or directory\n");
}

}  // namespace
}  // namespace tallyburn::testing
