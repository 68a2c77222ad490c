// tallyburn verify: the analysis of a sequence of numbers, and the frame
// code read back after real encodes, scaling, frame drops, repeats, swaps
// and rate conversions made by ffmpeg.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <numeric>
#include <ostream>

#include "tests/support/text_box_reader.h"
#include "tests/tool/tool_support.h"
#include "tool/verify.h"

namespace tallyburn::testing {
namespace {

using tool::Analyse;
using tool::NumberRange;
using Numbers = std::vector<std::optional<uint32_t>>;

Numbers Sequence(uint32_t first, uint32_t last) {
  Numbers v;
  for (uint32_t n = first; n <= last; ++n) v.push_back(n);
  return v;
}

// What a report says, in a form a table can hold.
struct Said {
  std::vector<std::pair<uint32_t, uint32_t>> dropped;
  std::vector<std::pair<uint32_t, std::vector<int>>> repeated;
  std::vector<int> out_of_order;  // input frames
  std::vector<std::pair<int, int>> unreadable;
  std::vector<std::pair<uint32_t, uint32_t>> unexpected;
  bool intact;
};

Said SaidBy(const tool::VerifyReport& r) {
  Said s{{}, {}, {}, r.unreadable, {}, r.intact()};
  for (const NumberRange& d : r.dropped) s.dropped.push_back({d.first, d.last});
  for (const auto& x : r.repeated) s.repeated.push_back({x.number, x.frames});
  for (const auto& x : r.out_of_order) s.out_of_order.push_back(x.frame);
  for (const NumberRange& d : r.unexpected) s.unexpected.push_back({d.first, d.last});
  return s;
}

void ExpectSaid(const Said& got, const Said& want) {
  EXPECT_EQ(got.dropped, want.dropped);
  EXPECT_EQ(got.repeated, want.repeated);
  EXPECT_EQ(got.out_of_order, want.out_of_order);
  EXPECT_EQ(got.unreadable, want.unreadable);
  EXPECT_EQ(got.unexpected, want.unexpected);
  EXPECT_EQ(got.intact, want.intact);
}

TEST(VerifyAnalysisTest, SaysExactlyWhatHappenedToTheSequence) {
  const struct {
    const char* name;
    Numbers numbers;
    std::optional<NumberRange> expect;
    Said said;
  } cases[] = {
      {"intact", Sequence(0, 9), std::nullopt, {{}, {}, {}, {}, {}, true}},
      {"dropped", {0, 1, 4, 5, 9}, std::nullopt, {{{2, 3}, {6, 8}}, {}, {}, {}, {}, false}},
      {"repeated", {0, 1, 1, 1, 2}, std::nullopt, {{}, {{1, {1, 2, 3}}}, {}, {}, {}, false}},
      {"swapped", {0, 2, 1, 3}, std::nullopt, {{}, {}, {2}, {}, {}, false}},
      {"unreadable",
       {0, std::nullopt, std::nullopt, 3, std::nullopt},
       NumberRange{0, 4},
       {{{1, 2}, {4, 4}}, {}, {}, {{1, 2}, {4, 4}}, {}, false}},
      {"ends_missing", Sequence(5, 7), NumberRange{0, 10}, {{{0, 4}, {8, 10}}, {}, {}, {}, {}, false}},
      {"unexpected", {4, 5, 6, 99}, NumberRange{4, 6}, {{}, {}, {}, {}, {{99, 99}}, false}},
      {"nothing_read", {std::nullopt}, std::nullopt, {{}, {}, {}, {{0, 0}}, {}, false}},
      {"wrap_free_top", {4294967294u, 4294967295u}, std::nullopt, {{}, {}, {}, {}, {}, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectSaid(SaidBy(Analyse(c.numbers, c.expect)), c.said);
  }
}

bool HaveFfmpeg() { return std::system("command -v ffmpeg > /dev/null 2>&1") == 0; }

// One trip through ffmpeg: the frames' numbers as the changes made leave
// them, and what verify must say.
struct Trip {
  const char* name;
  std::string ffmpeg;  // between the input and the output
  Numbers numbers;     // the numbers the output frames carry
};

void PrintTo(const Trip& t, std::ostream* os) { *os << t.name; }

// The numbers after dropping frames first..last, repeating output frame k
// `times` more times, and swapping output frames a and a + 1.
Numbers Drop(Numbers v, int first, int last) {
  v.erase(v.begin() + first, v.begin() + last + 1);
  return v;
}
Numbers Repeat(Numbers v, int k, int times) {
  v.insert(v.begin() + k, static_cast<size_t>(times), v[k]);
  return v;
}
Numbers Swap(Numbers v, int a) {
  std::swap(v[a], v[a + 1]);
  return v;
}

// An ffmpeg filter chain that shows frame k `times` more times: the frames
// up to k, then from k on again.
std::string RepeatFilter(int k, int times) {
  std::string chain = "split=" + std::to_string(times + 1);
  for (int i = 0; i <= times; ++i) chain += "[s" + std::to_string(i) + "]";
  chain += ";[s0]trim=end_frame=" + std::to_string(k + 1) + "[p0]";
  for (int i = 1; i <= times; ++i) {
    const bool last = i == times;
    chain += ";[s" + std::to_string(i) + "]trim=start_frame=" + std::to_string(k) +
             (last ? "" : ":end_frame=" + std::to_string(k + 1)) + ",setpts=PTS-STARTPTS[p" + std::to_string(i) + "]";
  }
  for (int i = 0; i <= times; ++i) chain += (i ? "" : ";") + std::string("[p") + std::to_string(i) + "]";
  return chain + "concat=n=" + std::to_string(times + 1);
}

// ffmpeg's shuffleframes list that swaps frames a and a + 1 of n.
std::string SwapList(int n, int a) {
  std::string s;
  for (int i = 0; i < n; ++i) s += (i ? " " : "") + std::to_string(i == a ? a + 1 : i == a + 1 ? a : i);
  return s;
}

class VerifyTripTest : public PluginHost, public ::testing::WithParamInterface<Trip> {};

TEST_P(VerifyTripTest, ReportsExactlyTheFaultsMadeAndNeverAWrongNumber) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const Trip& t = GetParam();
  TempDir dir;
  ASSERT_EQ(RunTool(dir, {"ColorBars(640, 360, length=60, fps=25).TallyId()", "-o", "burned.y4m"}).status, 0);
  const RunResult trip = Shell(
      dir, "ffmpeg -v error -i burned.y4m " + t.ffmpeg + " -fps_mode passthrough -strict -1 -f yuv4mpegpipe out.y4m");
  ASSERT_EQ(trip.status, 0) << trip.err;
  const RunResult r = RunTool(dir, {"verify", "out.y4m", "--json", "report.json", "--expect", "0-59"});
  const tool::VerifyReport want = Analyse(t.numbers, NumberRange{0, 59});
  EXPECT_EQ(r.status, want.intact() ? 0 : 1) << r.err;
  EXPECT_EQ(r.err, tool::ReportSummary(want, "out.y4m"));
  EXPECT_EQ(ReadFile(dir.Path("report.json")), tool::ReportJson(want, "out.y4m"));
}

const std::string kX264 = "-c:v libx264 -crf 35 -pix_fmt yuv420p -f matroska - | ffmpeg -v error -i -";
const std::string kFfv1 = "-c:v ffv1 -f matroska - | ffmpeg -v error -i -";

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, VerifyTripTest,
    ::testing::Values(Trip{"lossless", kFfv1, Sequence(0, 59)}, Trip{"x264_crf35_420", kX264, Sequence(0, 59)},
                      Trip{"half_size", "-vf scale=iw/2:ih/2 " + kX264, Sequence(0, 59)},
                      Trip{"double_size", "-vf scale=iw*2:ih*2 " + kX264, Sequence(0, 59)},
                      Trip{"ten_bit", "-pix_fmt yuv420p10le " + kFfv1, Sequence(0, 59)},
                      Trip{"dropped", "-vf select='not(between(n\\,10\\,12))' " + kX264, Drop(Sequence(0, 59), 10, 12)},
                      Trip{"repeated", "-vf '" + RepeatFilter(20, 2) + "' " + kX264, Repeat(Sequence(0, 59), 20, 2)},
                      Trip{"swapped", "-vf shuffleframes='" + SwapList(60, 40) + "' " + kX264,
                           Swap(Sequence(0, 59), 40)},
                      Trip{"all_three_ten_bit",
                           "-vf \"select='not(between(n\\,0\\,1)+eq(n\\,59))'," + RepeatFilter(30, 1) +
                               ",shuffleframes='" + SwapList(58, 10) + "'\" -pix_fmt yuv420p10le " + kFfv1,
                           Swap(Repeat(Drop(Drop(Sequence(0, 59), 59, 59), 0, 1), 30, 1), 10)}),
    [](const auto& p) { return std::string(p.param.name); });

// 29.97 to 25 and back: ffmpeg drops frames and then repeats some. The
// frames' own TallyFrame digits, read back losslessly, are the truth that
// verify's numbers must equal.
using VerifyRateTest = PluginHost;

TEST_F(VerifyRateTest, RateConversionMatchesTheBurnedDigits) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  ASSERT_EQ(RunTool(dir, {"ColorBars(640, 360, length=60, fps=30000, fps_denominator=1001).TallyId().TallyFrame()",
                          "-o", "burned.y4m"})
                .status,
            0);
  ASSERT_EQ(Shell(dir,
                  "ffmpeg -v error -i burned.y4m -vf fps=25 -c:v ffv1 -f matroska - | ffmpeg -v error -i - "
                  "-vf fps=30000/1001 -fps_mode passthrough -f yuv4mpegpipe out.y4m")
                .status,
            0);
  VideoInfo vi{};
  const auto frames = ParseY4m(env, ReadFile(dir.Path("out.y4m")), &vi);
  ASSERT_GT(frames.size(), 40u);
  const PixelFormat f = *DescribePixelType(vi.pixel_type);
  Numbers digits;
  for (const PVideoFrame& frame : frames)
    digits.push_back(static_cast<uint32_t>(std::stoul(ReadBox(env, frame, f, WhereBoxGoes(f, 640, 360, 2, 1, 3, 0)))));
  const RunResult r = RunTool(dir, {"verify", "out.y4m", "--json", "report.json"});
  const auto report = nlohmann::json::parse(ReadFile(dir.Path("report.json")));
  Numbers read;
  for (const auto& n : report["numbers"])
    read.push_back(n.is_null() ? std::nullopt : std::optional<uint32_t>(n.get<uint32_t>()));
  EXPECT_EQ(read, digits);
  const tool::VerifyReport want = Analyse(digits, std::nullopt);
  EXPECT_FALSE(want.dropped.empty());
  EXPECT_FALSE(want.repeated.empty());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, tool::ReportSummary(want, "out.y4m"));
}

// What a delivery chain or a capture does to the picture, made by ffmpeg
// from a short burn: where every frame must read, each reads its own number;
// where frames are mixed (a blend, fields of two frames), each reads one of
// its sources or nothing. Never another number.
struct Damage {
  const char* name;
  const char* burn;     // the script TallyId burns
  const char* encoder;  // an ffmpeg encoder the chain needs, or none
  std::string ffmpeg;   // between the input and the output
  int sources = 0;      // 0: every frame reads its own number; k: frame i
                        // carries k * i or k * i + 1, or reads as nothing
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

bool HaveEncoder(const char* name) {
  return std::system(("ffmpeg -hide_banner -encoders 2> /dev/null | grep -q ' " + std::string(name) + " '").c_str()) ==
         0;
}

class VerifyDamageTest : public ::testing::TestWithParam<Damage> {};

TEST_P(VerifyDamageTest, ReadsWhatAPersonCanStillSeeAndNeverAnotherNumber) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const Damage& d = GetParam();
  if (d.encoder != nullptr && !HaveEncoder(d.encoder)) GTEST_SKIP() << "this ffmpeg has no " << d.encoder;
  TempDir dir;
  const RunResult burn = RunTool(dir, {d.burn, "-o", "burned.y4m"});
  ASSERT_EQ(burn.status, 0) << burn.err;
  const RunResult trip = Shell(
      dir, "ffmpeg -v error -i burned.y4m " + d.ffmpeg + " -fps_mode passthrough -strict -1 -f yuv4mpegpipe out.y4m");
  ASSERT_EQ(trip.status, 0) << trip.err;
  const RunResult r = RunTool(dir, {"verify", "out.y4m", "--json", "report.json"});
  ASSERT_NE(r.status, 2) << r.err;
  const auto numbers = nlohmann::json::parse(ReadFile(dir.Path("report.json")))["numbers"];
  ASSERT_GT(numbers.size(), 4u);
  for (size_t i = 0; i < numbers.size(); ++i) {
    const auto& n = numbers[i];
    if (d.sources == 0) {
      EXPECT_EQ(n, i) << "frame " << i;
    } else if (!n.is_null()) {
      EXPECT_TRUE(n == d.sources * i || n == d.sources * i + 1) << "frame " << i << " read as " << n;
    }
  }
}

const std::string kX264Fast =
    "-c:v libx264 -preset veryfast -crf 30 -pix_fmt yuv420p -f matroska - | ffmpeg -v error -i -";

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, VerifyDamageTest,
    ::testing::Values(
        // Levels that moved together, and contrast down to a fifth of the
        // strip's (a tenth of the range).
        Damage{"dim_capture", "ColorBars(640, 360, length=8).TallyId()", nullptr, "-vf lutyuv=y=val*0.6"},
        Damage{"tv_picture_mode", "ColorBars(640, 360, length=8).TallyId()", nullptr,
               "-vf eq=contrast=0.8:brightness=0.06:gamma=1.4"},
        Damage{"bright_and_flat", "ColorBars(640, 360, length=8).TallyId()", nullptr,
               "-vf eq=contrast=0.3:brightness=0.35"},
        Damage{"a_tenth_of_the_range", "ColorBars(640, 360, length=8).TallyId()", nullptr, "-vf eq=contrast=0.2"},
        // The lowest rungs of a ladder, and strips burned into small frames.
        Damage{"eighth_of_1080p", "ColorBars(1920, 1080, length=6).TallyId()", "libx264",
               "-vf scale=256:144 " + kX264Fast},
        Damage{"burned_at_320x180", "ColorBars(320, 180, length=8).TallyId()", "libx264", kX264Fast},
        Damage{"burned_at_256x144", "ColorBars(256, 144, length=8).TallyId()", "libx264", kX264Fast},
        Damage{"burned_at_160x90", "ColorBars(160, 90, length=8).TallyId()", "libx264", kX264Fast},
        Damage{"half_of_320x180", "ColorBars(320, 180, length=8).TallyId()", nullptr, "-vf scale=160:90"},
        // Low-rate encoders.
        Damage{"svt_av1_crf50", "ColorBars(1280, 720, length=24).TallyId()", "libsvtav1",
               "-c:v libsvtav1 -crf 50 -preset 12 -f matroska - | ffmpeg -v error -i -"},
        Damage{"vp9_low_rate", "ColorBars(640, 360, length=12).TallyId()", "libvpx-vp9",
               "-c:v libvpx-vp9 -b:v 80k -deadline realtime -cpu-used 8 -f webm - | ffmpeg -v error -i -"},
        Damage{"hevc_low_rate", "ColorBars(640, 360, length=12).TallyId()", "libx265",
               "-c:v libx265 -preset ultrafast -crf 40 -x265-params log-level=none -f matroska - | "
               "ffmpeg -v error -i -"},
        // The picture moved and resized.
        Damage{"letterbox", "ColorBars(640, 360, length=8).TallyId()", nullptr, "-vf scale=640:270,pad=640:360:0:45"},
        Damage{"overscan_crop", "ColorBars(640, 360, length=8).TallyId()", nullptr,
               "-vf crop=iw*0.95:ih*0.95,scale=640:360"},
        // A camera pointed at a screen.
        Damage{"tilted", "ColorBars(640, 360, length=8).TallyId()", nullptr, "-vf rotate=0.4*PI/180:fillcolor=black"},
        Damage{"blurred", "ColorBars(640, 360, length=8).TallyId()", nullptr, "-vf gblur=sigma=2"},
        Damage{"noisy", "ColorBars(640, 360, length=8).TallyId()", nullptr, "-vf noise=alls=20:allf=t"},
        // Frames mixed from two sources.
        Damage{"blended", "ColorBars(640, 360, length=8).TallyId()", nullptr, "-vf tblend=all_mode=average", 1},
        Damage{"blended_unevenly", "ColorBars(640, 360, length=8).TallyId()", nullptr,
               "-vf tblend=all_mode=normal:all_opacity=0.3", 1},
        Damage{"fields_of_two_frames", "ColorBars(640, 360, length=12).TallyId()", nullptr,
               "-vf tinterlace=mode=interleave_top", 2}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(VerifyCommandTest, CouldNotRunIsTwo) {
  TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"verify", "missing.y4m"}, {"verify", "--expect", "9-1"}, {"verify", "--bogus"}}) {
    const RunResult r = RunTool(dir, args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_EQ(r.err.rfind("tallyburn verify: ", 0), 0u) << r.err;
  }
}

}  // namespace
}  // namespace tallyburn::testing
