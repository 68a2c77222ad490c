// A media output keeps its media source's sound, cut to the frames
// written, and its timecode, moved to the first of them: the output opened
// for a source as the tool opens it for the script's one MediaSource, on
// files ffmpeg makes. Needs ffmpeg; skips without it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <sstream>

#include "tests/support/plugin_host.h"
#include "tests/support/text_box_reader.h"
#include "tests/tool/tool_support.h"
#include "tool/media/media_output.h"
#include "tool/script/script.h"
#include "tool/script/sources.h"

namespace tallyburn::testing {
namespace {

bool HaveFfmpeg() { return std::system("command -v ffmpeg > /dev/null 2>&1 && command -v ffprobe > /dev/null") == 0; }

// 50 frames at 25 fps, two seconds of stereo noise at 48 kHz: 960 samples a
// frame.
constexpr int kSamplesPerFrame = 48000 / 25;
constexpr int kChannels = 2;

class MediaSoundTest : public PluginHost {
 protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed; .ci/run installs them";
  }
  std::string Ff(const std::string& command) {
    const RunResult r = Shell(dir, command);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
    return r.out;
  }
  void MakeSource(const std::string& name, const std::string& rate, const std::string& codecs) {
    Ff("ffmpeg -v error -f lavfi -i testsrc=size=64x48:duration=2:rate=" + rate +
       " -f lavfi -i anoisesrc=r=48000:seed=7:duration=2 -ac 2 -colorspace bt709 -color_primaries bt709 "
       "-color_trc bt709 " +
       codecs + " " + name);
  }
  // Frames [first, first + count) of the bars into `out`, with the sound
  // and timecode of `source` as its media source.
  void Encode(const std::string& out, const std::string& codec, int first, int count, const std::string& source,
              const std::string& rate = "fps=25") {
    tool::ToolContext context;
    tool::RegisterBuiltins(env, context);
    const PClip clip = tool::EvaluateScript(env, "ColorBars(64, 48, length=50, " + rate + ")").AsClip();
    const VideoInfo vi = clip->GetVideoInfo();
    const tool::MediaSettings settings = tool::CheckMediaSettings(dir.Path(out), codec, "");
    const tool::MediaRun run{first, count, tool::MediaOrigin{dir.Path(source), 0, 0}, std::nullopt, {}};
    const auto sink = tool::OpenMediaSink(settings, vi, run);
    for (int n = first; n < first + count; ++n) sink->Write(*env.FetchFrame(clip, n).get(), n);
    sink->Finish();
  }
  std::string Entry(const std::string& file, const std::string& select, const std::string& entry) {
    std::string v = Ff("ffprobe -v error -select_streams " + select + " -show_entries " + entry +
                       " -of default=noprint_wrappers=1:nokey=1 " + file);
    while (!v.empty() && v.back() == '\n') v.pop_back();
    return v;
  }
  // Samples of the first sound stream as ffmpeg decodes them, every frame
  // counted (the decoder drops what the container says to skip).
  long DecodedSamples(const std::string& file) {
    std::istringstream counts(
        Ff("ffprobe -v error -select_streams a:0 -show_entries frame=nb_samples -of csv=p=0 " + file));
    long total = 0;
    for (long n = 0; counts >> n;) total += n;
    return total;
  }
  // PCM decodes to exactly the samples written. Encoded sound decodes to
  // whole codec frames (1024 samples in AAC); MP4 and MOV record its exact
  // length, which players honour.
  void ExpectSamples(const std::string& file, long samples, bool pcm) {
    if (pcm) {
      EXPECT_EQ(DecodedSamples(file), samples);
      return;
    }
    EXPECT_EQ(Entry(file, "a:0", "stream=duration_ts"), std::to_string(samples));
    const long decoded = DecodedSamples(file);
    EXPECT_GE(decoded, samples);
    EXPECT_LT(decoded, samples + 1024);
  }
  // The lag, in samples, at which the first channel of `cut` best matches
  // `all` from sample `at` on (0: the cut starts exactly there), for sound
  // encoded again, whose samples are not the source's.
  static int Lag(const std::string& cut, const std::string& all, size_t at) {
    const auto sample = [](const std::string& pcm, size_t i) {
      int16_t v = 0;
      if ((i + 1) * 2 * kChannels <= pcm.size()) std::memcpy(&v, pcm.data() + i * 2 * kChannels, 2);
      return static_cast<double>(v);
    };
    int best = 0;
    double best_score = -1e300;
    for (int lag = -1100; lag <= 1100; ++lag) {
      double score = 0;
      for (size_t i = 0; i < 4800; ++i) score += sample(cut, i) * sample(all, at + i + lag);
      if (score > best_score) best_score = score, best = lag;
    }
    return best;
  }
  std::string Pcm(const std::string& file) { return Ff("ffmpeg -v error -i " + file + " -map 0:a:0 -f s16le -"); }
  TempDir dir;
};

struct CutCase {
  const char* name;
  const char* output;
  const char* codec;  // sound codec in the output
  bool exact;         // the samples themselves are the source's
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class PcmCutTest : public MediaSoundTest, public ::testing::WithParamInterface<CutCase> {};

// PCM sound is cut at the sample of the first frame and of the frame after
// the last, and the timecode moves by the first frame; where the
// container cannot hold PCM (MP4), it is encoded, to the same samples.
TEST_P(PcmCutTest, SoundCutToTheFramesAndTimecodeMoved) {
  const CutCase& c = GetParam();
  MakeSource("src.mov", "25", "-c:v mpeg4 -c:a pcm_s16le -timecode 10:00:00:00");
  // A second in: the sound is read from a seek.
  Encode(c.output, "libx264", 25, 20, "src.mov");
  EXPECT_EQ(Entry(c.output, "a:0", "stream=codec_name"), c.codec);
  ExpectSamples(c.output, 20L * kSamplesPerFrame, c.exact);
  if (c.exact) {
    const std::string all = Pcm("src.mov"), cut = Pcm(c.output);
    const size_t bytes = 2 * kChannels;
    ASSERT_EQ(cut.size(), 20u * kSamplesPerFrame * bytes);
    EXPECT_TRUE(cut == all.substr(25u * kSamplesPerFrame * bytes, cut.size())) << "not the source's samples";
  } else {
    EXPECT_EQ(Lag(Pcm(c.output), Pcm("src.mov"), 25u * kSamplesPerFrame), 0);
  }
  const std::string tags =
      Ff("ffprobe -v error -show_entries stream_tags=timecode:format_tags=timecode -of "
         "default=noprint_wrappers=1:nokey=1 " +
         std::string(c.output));
  EXPECT_NE(tags.find("10:00:01:00"), std::string::npos) << tags;
  EXPECT_EQ(tags.find("10:00:00:00"), std::string::npos) << tags;
  // The source's description of its picture follows the frames.
  EXPECT_EQ(Entry(c.output, "v:0", "stream=color_space"), "bt709");
}

INSTANTIATE_TEST_SUITE_P(Containers, PcmCutTest,
                         ::testing::Values(CutCase{"mov", "out.mov", "pcm_s16le", true},
                                           CutCase{"mkv", "out.mkv", "pcm_s16le", true},
                                           CutCase{"mp4_encodes_aac", "out.mp4", "aac", false}),
                         [](const auto& p) { return std::string(p.param.name); });

// Compressed sound is copied, packet for packet, when the whole clip is
// written, and encoded again when the output starts or ends inside a
// packet, to exactly the frames' samples.
TEST_F(MediaSoundTest, CompressedSoundCopiedWholeAndEncodedWhenCut) {
  MakeSource("src.mp4", "25", "-c:v libx264 -c:a aac");
  Encode("whole.mkv", "libx264", 0, 50, "src.mp4");
  const std::string packets = "packet=size";
  EXPECT_EQ(Entry("whole.mkv", "a:0", packets), Entry("src.mp4", "a:0", packets));

  Encode("cut.mov", "libx264", 7, 21, "src.mp4");
  EXPECT_EQ(Entry("cut.mov", "a:0", "stream=codec_name"), "aac");
  ExpectSamples("cut.mov", 21L * kSamplesPerFrame, false);
  Encode("late.mov", "libx264", 31, 13, "src.mp4");  // read from a seek
  ExpectSamples("late.mov", 13L * kSamplesPerFrame, false);
  EXPECT_EQ(Lag(Pcm("late.mov"), Pcm("src.mp4"), 31u * kSamplesPerFrame), 0);
}

// Drop-frame labels move across the labels a minute skips.
TEST_F(MediaSoundTest, DropFrameTimecodeMovesAcrossAMinute) {
  MakeSource("src.mov", "30000/1001", "-c:v mpeg4 -c:a pcm_s16le -timecode '01:00:59;28'");
  Encode("out.mov", "libx264", 4, 6, "src.mov", "fps=30000, fps_denominator=1001");
  EXPECT_EQ(Entry("out.mov", "v:0", "stream_tags=timecode"), "01:01:00;04");
  EXPECT_EQ(DecodedSamples("out.mov"), std::lround(6 * 48000 * 1001 / 30000.0));
  Encode("out.mxf", "mpeg2video", 2, 3, "src.mov", "fps=30000, fps_denominator=1001");
  EXPECT_NE(Ff("ffprobe -v error -show_entries format_tags=timecode out.mxf").find("01:01:00;02"), std::string::npos);
}

}  // namespace
}  // namespace tallyburn::testing

namespace tallyburn::testing {
namespace {

// From a camera file to a review copy in one command, as the README shows
// it: a ProRes 4:2:2 10-bit file at 23.976 with a timecode track and PCM
// sound becomes H.264 in MP4 with the source's timecode burned in and
// recorded, and its sound, cut to the frames written.
TEST_F(MediaSoundTest, CameraFileToReviewCopy) {
  Ff("ffmpeg -v error -f lavfi -i testsrc=size=160x96:duration=2:rate=24000/1001 -f lavfi -i "
     "sine=r=48000:duration=2 -c:v prores_ks -pix_fmt yuv422p10le -c:a pcm_s24le -timecode 01:00:00:00 dailies.mov");
  const std::string tool = Quote(TALLYBURN_TOOL_PATH) + " --no-progress ";
  const std::string script = "'MediaSource(\"dailies.mov\").TallyTC(start=SourceTimecode(\"dailies.mov\"))'";
  const std::string info = Ff(tool + "--info " + script + " -o review.mp4 --frames 24-47");
  EXPECT_NE(info.find("timecode    01:00:00:00\n"), std::string::npos) << info;
  EXPECT_NE(info.find("output      review.mp4: mp4, libx264 in yuv422p10le; sound 1 (pcm_s24le) encoded as aac; "
                      "timecode 01:00:01:00\n"),
            std::string::npos)
      << info;

  const struct {
    std::string options;
    const char* first_label;
    long samples;
    const char* pix_fmt;
  } runs[] = {
      {"", "01:00:00:00", 96000, "yuv422p10le"},
      // Half a second in, for players that take only 4:2:0.
      {"--frames 12-35 --codec-options pixel_format=yuv420p", "01:00:00:12", 48048, "yuv420p"},
  };
  for (const auto& r : runs) {
    Ff(tool + script + " -o review.mp4 " + r.options);
    EXPECT_EQ(Entry("review.mp4", "v:0", "stream=codec_name,pix_fmt"), std::string("h264\n") + r.pix_fmt);
    EXPECT_EQ(Entry("review.mp4", "v:0", "stream_tags=timecode"), r.first_label);
    EXPECT_EQ(Entry("review.mp4", "a:0", "stream=codec_name"), "aac");
    ExpectSamples("review.mp4", r.samples, false);
    VideoInfo vi{};
    const auto frames =
        ParseY4m(env, Ff("ffmpeg -v error -i review.mp4 -frames:v 1 -f yuv4mpegpipe -strict -1 -"), &vi);
    ASSERT_EQ(frames.size(), 1u);
    const PixelFormat f = *DescribePixelType(vi.pixel_type);
    EXPECT_EQ(ReadBox(env, frames[0], f, WhereBoxGoes(f, 160, 96, 11, 1, 2, 0)), r.first_label) << r.options;
  }
}

}  // namespace
}  // namespace tallyburn::testing
