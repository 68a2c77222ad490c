// tallyburn verify: the analysis of a sequence of numbers, and the frame
// code read back after real encodes, scaling, frame drops, repeats, swaps
// and rate conversions made by ffmpeg.
#include <gtest/gtest.h>

#include <png.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <numeric>
#include <ostream>
#include <set>
#include <sstream>

#include "draw/strip.h"
#include "framecode/layout.h"
#include "sync/tally_sync.h"
#include "tests/support/text_box_reader.h"
#include "tests/tool/sound_files.h"
#include "tests/tool/tool_support.h"
#include "tool/verify/quality.h"
#include "tool/verify/report.h"
#include "tool/verify/report_html.h"
#include "tool/verify/report_json.h"
#include "tool/verify/report_text.h"

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
  tool::VerifyReport want = Analyse(t.numbers, NumberRange{0, 59});
  // YUV4MPEG2 frames are shown at its rate, 25 fps, from 0.
  for (size_t i = 0; i < t.numbers.size(); ++i) want.times.push_back(static_cast<double>(i) * 1 / 25);
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
  tool::VerifyReport want = Analyse(digits, std::nullopt);
  // YUV4MPEG2 frames are shown at its rate, 30000/1001 fps, from 0.
  for (size_t i = 0; i < digits.size(); ++i) want.times.push_back(static_cast<double>(i) * 1001 / 30000);
  EXPECT_FALSE(want.dropped.empty());
  EXPECT_FALSE(want.repeated.empty());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, tool::ReportSummary(want, "out.y4m"));
}

struct TimingTrip {
  const char* name;
  std::string burn;    // the burned clip
  std::string ffmpeg;  // between the input and the output file
  std::string output;  // its name: the container keeps the times
  const char* cadence;
  std::vector<uint32_t> freezes;                           // numbers held too long
  std::vector<std::pair<std::string, uint32_t>> stutters;  // kind and number
};

void PrintTo(const TimingTrip& t, std::ostream* os) { *os << t.name; }

class VerifyTimingTest : public ::testing::TestWithParam<TimingTrip> {};

TEST_P(VerifyTimingTest, TheTimesOfAMediaFileShowCadenceFreezesAndStutters) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const TimingTrip& t = GetParam();
  TempDir dir;
  ASSERT_EQ(RunTool(dir, {t.burn, "-o", "burned.y4m"}).status, 0);
  const RunResult trip = Shell(dir, "ffmpeg -v error -i burned.y4m " + t.ffmpeg + " " + t.output);
  ASSERT_EQ(trip.status, 0) << trip.err;
  const RunResult r = RunTool(dir, {"verify", t.output, "--json", "report.json"});
  ASSERT_NE(r.status, 2) << r.err;
  const auto report = nlohmann::json::parse(ReadFile(dir.Path("report.json")));
  const auto& timing = report["timing"];
  EXPECT_EQ(timing["cadence"], t.cadence) << r.err;
  std::vector<uint32_t> freezes;
  for (const auto& f : timing["freezes"]) freezes.push_back(f["number"]);
  EXPECT_EQ(freezes, t.freezes) << r.err;
  std::vector<std::pair<std::string, uint32_t>> stutters;
  for (const auto& x : timing["stutters"]) stutters.push_back({x["kind"], x["number"]});
  EXPECT_EQ(stutters, t.stutters) << r.err;
  EXPECT_EQ(timing["durations"].size(), report["numbers"].size());
}

const std::string kFilm = "ColorBars(640, 360, length=48, fps=24000, fps_denominator=1001).TallyId()";
const std::string kFilmCodec = " -c:v libx264 -crf 30 -pix_fmt yuv420p";
// Frames changed at the source's rate, then the capture of their playback.
const std::string kToY4mPipe = " -fps_mode passthrough -strict -1 -f yuv4mpegpipe - | ffmpeg -v error -i - ";

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, VerifyTimingTest,
    ::testing::Values(TimingTrip{"film_at_60", kFilm, "-vf fps=60000/1001" + kFilmCodec, "out.mp4", "3:2", {}, {}},
                      // Number 10 never shown (the film closes up around it), number 21
                      // shown for two film frames: five captures where three are the most.
                      TimingTrip{"film_at_60_skip_and_freeze",
                                 kFilm,
                                 "-vf \"select='not(eq(n\\,10))'," + RepeatFilter(20, 1) + "\"" + kToY4mPipe +
                                     "-vf fps=60000/1001" + kFilmCodec,
                                 "out.mp4",
                                 "3:2",
                                 {21},
                                 {{"skip", 11}}},
                      // A 25p player captured at 50 that stalls on number 20 for three
                      // more of its frames.
                      TimingTrip{"stalled_player_at_50",
                                 "ColorBars(640, 360, length=40, fps=25).TallyId()",
                                 "-vf \"" + RepeatFilter(20, 3) + "\"" + kToY4mPipe + "-vf fps=50" + kFilmCodec,
                                 "out.mp4",
                                 "2:2",
                                 {20},
                                 {}},
                      // A player that stalls, recorded with each frame's own time: frame
                      // 20 comes 200 ms late, so number 19 stays 240 ms.
                      TimingTrip{"stall_in_a_variable_rate_file",
                                 "ColorBars(640, 360, length=40, fps=25).TallyId()",
                                 "-vf \"setpts='if(gte(N\\,20)\\,PTS+0.2/TB\\,PTS)'\" -fps_mode passthrough -c:v ffv1",
                                 "out.mkv",
                                 "1:1",
                                 {19},
                                 {}}),
    [](const auto& p) { return std::string(p.param.name); });

// What ffmpeg's own filters say of each pair: the metadata a filter chain
// ending in metadata=print wrote, one map a frame.
std::vector<std::map<std::string, std::string>> PrintedMetadata(const std::string& text) {
  std::vector<std::map<std::string, std::string>> frames;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("frame:", 0) == 0) {
      frames.emplace_back();
    } else if (const size_t eq = line.find('='); eq != std::string::npos && !frames.empty()) {
      frames.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return frames;
}

// ffmpeg's filters for the rows of `band` taken out of the picture in
// [in], the rest in [out].
std::string CropRows(const std::string& in, const std::string& out, int first, int last, int width, int height) {
  const auto crop = [&](int y, int h) {
    return "crop=" + std::to_string(width) + ":" + std::to_string(h) + ":0:" + std::to_string(y);
  };
  if (first == 0) return "[" + in + "]" + crop(last + 1, height - last - 1) + "[" + out + "]";
  if (last == height - 1) return "[" + in + "]" + crop(0, first) + "[" + out + "]";
  return "[" + in + "]split[" + in + "a][" + in + "b];[" + in + "a]" + crop(0, first) + "[" + in + "t];[" + in + "b]" +
         crop(last + 1, height - last - 1) + "[" + in + "u];[" + in + "t][" + in + "u]vstack[" + out + "]";
}

// A metric as the report holds it and as ffmpeg printed it: the same
// number, infinite PSNR (no difference) null in the report.
void ExpectSameValue(const nlohmann::json& ours, const std::map<std::string, std::string>& theirs,
                     const std::string& key) {
  const auto it = theirs.find(key);
  ASSERT_NE(it, theirs.end()) << key;
  const double want = std::strtod(it->second.c_str(), nullptr);
  if (std::isinf(want))
    EXPECT_TRUE(ours.is_null()) << key;
  else
    EXPECT_EQ(ours.get<double>(), want) << key;
}

struct QualityCase {
  const char* name;
  std::string burn;     // the TallyId call on the master
  std::string trip;     // the delivery chain, as in VerifyTripTest
  std::string pairing;  // what ffmpeg does to the reference to pair it with the delivered frames by hand
  bool master;          // the reference is the master, before TallyId
  int align;
  Numbers numbers;  // the numbers the delivered frames carry
};

void PrintTo(const QualityCase& c, std::ostream* os) { *os << c.name; }

class VerifyQualityTest : public ::testing::TestWithParam<QualityCase> {};

TEST_P(VerifyQualityTest, MetricsAreFfmpegsOwnForThePairsTheCodeMakes) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const QualityCase& c = GetParam();
  TempDir dir;
  constexpr int kW = 640, kH = 360;
  // A picture that moves, so that every frame differs from every other.
  RunResult r = Shell(dir,
                      "ffmpeg -v error -f lavfi -i testsrc2=size=640x360:rate=25 -frames:v 60 -pix_fmt yuv420p "
                      "-strict -1 master.y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(RunTool(dir, {"Y4MSource(\"master.y4m\")." + c.burn, "-o", "burned.y4m"}).status, 0);
  const std::string reference = c.master ? "master.y4m" : "burned.y4m";
  r = Shell(dir, "ffmpeg -v error -i burned.y4m " + c.trip +
                     " -fps_mode passthrough -strict -1 -f yuv4mpegpipe out.y4m && ffmpeg -v error -i " + reference +
                     " " + (c.pairing.empty() ? "" : "-vf \"" + c.pairing + "\"") +
                     " -fps_mode passthrough -strict -1 -f yuv4mpegpipe paired.y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunTool(dir, {"verify", "out.y4m", "--reference", reference, "--json", "report.json"});
  const tool::VerifyReport want = Analyse(c.numbers, std::nullopt);
  EXPECT_EQ(r.status, want.intact() ? 0 : 1) << r.err;
  const auto report = nlohmann::json::parse(ReadFile(dir.Path("report.json")));
  const auto& summary = report["quality_summary"];
  EXPECT_EQ(summary["numbered_by"], c.master ? "position" : "code");
  EXPECT_EQ(summary["dropped"], report["dropped"]);

  // The rows left out hold the whole strip, and at most a module (8 rows)
  // and a chroma line more on either side.
  StripGeometry strip{};
  ASSERT_TRUE(PlaceStrip(kW, kH, framecode::kModulePixels, c.align, &strip));  // scale 1 at 360 lines
  ASSERT_TRUE(summary["rows_left_out"].is_array()) << summary.dump();
  const int first = summary["rows_left_out"][0], last = summary["rows_left_out"][1];
  EXPECT_LE(first, strip.y0);
  EXPECT_GE(last, strip.y0 + strip.height() - 1);
  EXPECT_GE(first, strip.y0 - 10);
  EXPECT_LE(last, strip.y0 + strip.height() - 1 + 10);

  // ffmpeg, given the pairs by hand, the same rows out, and the delivered
  // frames scaled as verify says it scales them.
  const auto& quality = report["quality"];
  ASSERT_EQ(quality.size(), c.numbers.size());
  const RunResult probe = Shell(dir, "head -c 40 out.y4m");
  const bool scaled = probe.out.find("W640 H360") == std::string::npos;
  const std::string into = scaled ? "[0]scale=640:360:flags=bicubic,format=yuv420p[s];" : "[0]null[s];";
  const std::string graph =
      into + CropRows("s", "d", first, last, kW, kH) + ";" + CropRows("1", "r", first, last, kW, kH) + ";[d][r]";
  for (const char* metric : {"psnr", "ssim"}) {
    r = Shell(dir, "ffmpeg -v error -i out.y4m -i paired.y4m -lavfi \"" + graph + metric +
                       ",metadata=mode=print:file=" + metric + ".txt\" -f null -");
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const auto psnr = PrintedMetadata(ReadFile(dir.Path("psnr.txt")));
  const auto ssim = PrintedMetadata(ReadFile(dir.Path("ssim.txt")));
  ASSERT_EQ(psnr.size(), quality.size());
  ASSERT_EQ(ssim.size(), quality.size());
  for (size_t i = 0; i < quality.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const auto& q = quality[i];
    EXPECT_EQ(q["frame"], i);
    EXPECT_EQ(q["number"], *c.numbers[i]);
    EXPECT_EQ(q["reference_frame"], *c.numbers[i]);
    for (const char* plane : {"y", "u", "v"}) {
      ExpectSameValue(q["psnr"][plane], psnr[i], std::string("lavfi.psnr.psnr.") + plane);
      ExpectSameValue(q["ssim"][plane], ssim[i], std::string("lavfi.ssim.") + static_cast<char>(std::toupper(*plane)));
    }
    ExpectSameValue(q["psnr"]["average"], psnr[i], "lavfi.psnr.psnr_avg");
    ExpectSameValue(q["ssim"]["all"], ssim[i], "lavfi.ssim.All");
  }
}

const std::string kDropAndRepeat = "select='not(between(n\\,10\\,12))'," + RepeatFilter(30, 1);
const Numbers kDroppedAndRepeated = Repeat(Drop(Sequence(0, 59), 10, 12), 30, 1);

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, VerifyQualityTest,
    ::testing::Values(
        QualityCase{"undamaged", "TallyId(scale=1)", kX264, "", false, 8, Sequence(0, 59)},
        QualityCase{"drops_and_repeat", "TallyId(scale=1)", "-vf \"" + kDropAndRepeat + "\" " + kX264, kDropAndRepeat,
                    false, 8, kDroppedAndRepeated},
        QualityCase{"half_size", "TallyId(scale=1)", "-vf scale=iw/2:ih/2 " + kX264, "", false, 8, Sequence(0, 59)},
        QualityCase{"strip_at_the_bottom", "TallyId(align=2, scale=1)", kX264, "", false, 2, Sequence(0, 59)},
        QualityCase{"strip_in_the_middle_drops_and_repeat", "TallyId(align=5, scale=1)",
                    "-vf \"" + kDropAndRepeat + "\" " + kX264, kDropAndRepeat, false, 5, kDroppedAndRepeated},
        QualityCase{"master_reference", "TallyId(scale=1)", "-vf \"" + kDropAndRepeat + "\" " + kX264, kDropAndRepeat,
                    true, 8, kDroppedAndRepeated}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(VerifyQualityTest, SummaryOfAMetric) {
  // Twenty frames 30..49 dB in a scrambled order, one identical (infinite)
  // and one without a value.
  std::vector<double> v;
  for (int i = 0; i < 20; ++i) v.push_back(30.0 + (i * 7) % 20);
  v.push_back(INFINITY);
  v.push_back(NAN);
  const tool::MetricSummary s = tool::Summarise(v);
  EXPECT_EQ(s.count, 20);
  EXPECT_EQ(s.identical, 1);
  EXPECT_DOUBLE_EQ(s.mean, 39.5);
  EXPECT_DOUBLE_EQ(s.min, 30);
  EXPECT_DOUBLE_EQ(s.p5, 30);  // the first of twenty: 5% of them
  ASSERT_EQ(s.worst.size(), 10u);
  for (size_t k = 0; k < s.worst.size(); ++k) {
    EXPECT_DOUBLE_EQ(s.worst[k].second, 30.0 + static_cast<double>(k));
    EXPECT_EQ(v[static_cast<size_t>(s.worst[k].first)], s.worst[k].second);
  }
  v.resize(19);  // nineteen values: 5% of them rounds up to the first
  EXPECT_DOUBLE_EQ(tool::Summarise(v).p5, 30);
  std::vector<double> forty;
  for (int i = 0; i < 40; ++i) forty.push_back(i);
  EXPECT_DOUBLE_EQ(tool::Summarise(forty).p5, 1);  // the second of forty
}

TEST(VerifyQualityTest, AReferenceThatCannotBeReadIsTwo) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  ASSERT_EQ(RunTool(dir, {"ColorBars(640, 360, length=3).TallyId()", "-o", "burned.y4m"}).status, 0);
  const RunResult r = RunTool(dir, {"verify", "burned.y4m", "--reference", "missing.y4m"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("tallyburn verify: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("missing.y4m"), std::string::npos) << r.err;
}

// Chromium from Debian, or the one TALLYBURN_CHROMIUM names; "" for none.
std::string Chromium() {
  const char* given = std::getenv("TALLYBURN_CHROMIUM");
  const std::string path = given != nullptr ? given : "/usr/bin/chromium";
  return std::system(("test -x " + Quote(path)).c_str()) == 0 ? path : "";
}

struct Screenshot {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Screenshot ReadPng(const std::string& path) {
  Screenshot s;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return s;
  image.format = PNG_FORMAT_RGB;
  s.rgb.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, s.rgb.data(), 0, nullptr) == 0) return s;
  s.width = static_cast<int>(image.width);
  s.height = static_cast<int>(image.height);
  return s;
}

// The page in dir, as headless Chromium shows it 1560 pixels wide; empty
// (0 x 0) when Chromium fails.
Screenshot ShotOf(const TempDir& dir, const std::string& chromium, const std::string& page, int height) {
  const RunResult r =
      Shell(dir, "timeout 120 " + Quote(chromium) +
                     " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                     "--disable-background-networking --disable-component-update --disable-sync "
                     "--force-device-scale-factor=1 --hide-scrollbars --user-data-dir=" +
                     Quote(dir.Path("profile")) + " --screenshot=" + Quote(dir.Path("shot.png")) +
                     " --window-size=1560," + std::to_string(height) + " " + Quote("file://" + dir.Path(page)));
  if (r.status != 0) {
    ADD_FAILURE() << "chromium: " << r.err;
    return {};
  }
  return ReadPng(dir.Path("shot.png"));
}

// A CSS colour "#rrggbb", and whether a pixel is near it (antialiased
// edges aside, a mark's middle is its own colour).
bool Near(const uint8_t* px, const char* css) {
  const unsigned long c = std::strtoul(css + 1, nullptr, 16);
  const int want[3] = {static_cast<int>(c >> 16), static_cast<int>((c >> 8) & 0xFF), static_cast<int>(c & 0xFF)};
  for (int k = 0; k < 3; ++k)
    if (std::abs(px[k] - want[k]) > 30) return false;
  return true;
}

// The columns of chart `chart`'s plot area where row `plot_y` (of the plot)
// has the colour, and the points of the whole plot area that have it.
std::vector<int> ColumnsOf(const Screenshot& s, int chart, int plot_y, const char* css) {
  std::vector<int> xs;
  const int y = tool::kChartTop + chart * tool::kChartHeight + plot_y;
  for (int x = tool::kPlotLeft + 2; x < tool::kPlotRight - 1; ++x)
    if (Near(s.At(x, y), css)) xs.push_back(x);
  return xs;
}
std::vector<std::pair<int, int>> PointsOf(const Screenshot& s, int chart, const char* css) {
  std::vector<std::pair<int, int>> points;
  const int top = tool::kChartTop + chart * tool::kChartHeight;
  for (int y = top + tool::kPlotTop + 2; y < top + tool::kPlotBottom - 1; ++y)
    for (int x = tool::kPlotLeft + 2; x < tool::kPlotRight - 1; ++x)
      if (Near(s.At(x, y), css)) points.push_back({x, y});
  return points;
}

TEST(VerifyPageTest, ChromiumShowsTheDropsRepeatsAndQualityWhereTheyHappened) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const std::string chromium = Chromium();
  if (chromium.empty()) GTEST_SKIP() << "no Chromium at /usr/bin/chromium (package chromium) or TALLYBURN_CHROMIUM";
  TempDir dir;
  ASSERT_EQ(RunTool(dir, {"ColorBars(640, 360, length=60, fps=25).TallyId()", "-o", "burned.y4m"}).status, 0);
  // Numbers 10-12 dropped, then delivered frame 30 (number 33) shown twice.
  RunResult r = Shell(dir, "ffmpeg -v error -i burned.y4m -vf \"" + kDropAndRepeat + "\" " + kX264 +
                               " -fps_mode passthrough -strict -1 -f yuv4mpegpipe out.y4m");
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunTool(dir, {"verify", "out.y4m", "--reference", "burned.y4m", "--html", "report.html"});
  ASSERT_EQ(r.status, 1) << r.err;
  const std::string page = ReadFile(dir.Path("report.html"));
  for (const char* outside : {"http", "src=", "href=", "url(", "@import"})
    EXPECT_EQ(page.find(outside), std::string::npos) << "the page refers to something outside it: " << outside;
  EXPECT_NE(page.find("dropped: 10-12"), std::string::npos) << "the text report is beside the charts";

  const Screenshot shot = ShotOf(dir, chromium, "report.html", 1300);
  ASSERT_EQ(shot.width, 1560);
  ASSERT_EQ(shot.height, 1300);

  constexpr int kFrames = 58;
  const double across = tool::kPlotRight - tool::kPlotLeft;
  const double drop_x = tool::kPlotLeft + 10 * across / kFrames;  // before delivered frame 10, number 13
  const int middle = (tool::kPlotTop + tool::kPlotBottom) / 2;
  // The drop: a red line at its place in the numbers and in both quality
  // charts, and red nowhere else on that row.
  for (int chart : {0, 1, 2}) {
    SCOPED_TRACE("chart " + std::to_string(chart));
    const std::vector<int> red = ColumnsOf(shot, chart, middle, tool::kDropColour);
    ASSERT_FALSE(red.empty());
    for (const int x : red) EXPECT_NEAR(x, drop_x, 3);
  }
  // The repeat: an orange dot at delivered frame 31 and number 33, and
  // orange nowhere else in the plot.
  const double repeat_x = tool::kPlotLeft + 31.5 * across / kFrames;
  const double repeat_y = tool::kChartTop + tool::kPlotBottom - tool::kPlotInset -
                          33.0 / 59 * (tool::kPlotBottom - tool::kPlotTop - 2 * tool::kPlotInset);
  const auto orange = PointsOf(shot, 0, tool::kRepeatColour);
  ASSERT_FALSE(orange.empty());
  for (const auto& [x, y] : orange) {
    EXPECT_NEAR(x, repeat_x, 4);
    EXPECT_NEAR(y, repeat_y, 4);
  }
  // A blue dot for every other frame read, in order up the chart; PSNR and
  // SSIM dots for every frame compared.
  const auto blue = PointsOf(shot, 0, tool::kFrameColour);
  for (const int frame : {0, 9, 10, 57}) {
    const double x = tool::kPlotLeft + (frame + 0.5) * across / kFrames;
    EXPECT_TRUE(std::any_of(blue.begin(), blue.end(), [&](const auto& p) { return std::abs(p.first - x) <= 2; }))
        << "frame " << frame;
  }
  for (int chart : {1, 2}) {
    const auto green = PointsOf(shot, chart, tool::kQualityColour);
    std::set<int> columns;
    for (const auto& p : green) columns.insert(static_cast<int>((p.first - tool::kPlotLeft) * kFrames / across));
    EXPECT_EQ(columns.size(), static_cast<size_t>(kFrames)) << "chart " << chart;
  }
}

// The page's sync chart: a sound 120 ms late with a second of it silenced
// (marks of frames 60 and 75 lost): its dots at +120 ms, red ticks where
// the marks are missing, and red nowhere else along its bottom.
TEST(VerifyPageTest, ChromiumShowsTheSoundOffsetAndTheMissingMarks) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const std::string chromium = Chromium();
  if (chromium.empty()) GTEST_SKIP() << "no Chromium at /usr/bin/chromium (package chromium) or TALLYBURN_CHROMIUM";
  TempDir dir;
  constexpr int kFrames = 240;
  ASSERT_EQ(
      RunTool(dir, {"ColorBars(160, 64, length=240, fps=30000, fps_denominator=1001).TallyId()", "-o", "v.mov"}).status,
      0);
  sync::SyncRequest request;
  request.fps_num = 30000, request.fps_den = 1001, request.num_frames = kFrames, request.period = 0.5;
  const sync::SyncPlan plan = *sync::PlanSync(request).plan;
  Sound marks{plan.rate, plan.channels, std::vector<float>(static_cast<size_t>(plan.samples * plan.channels))};
  sync::MarkGenerator(plan).Fill(marks.samples.data(), 0, plan.samples, sync::SampleType::kFloat);
  WriteWav(dir.Path("m.wav"), marks);
  RunResult r = Shell(dir,
                      "ffmpeg -v error -nostdin -y -i v.mov -i m.wav -map 0:v -map 1:a -c:v copy -af "
                      "\"volume=enable='between(t,1.8,2.8)':volume=0,adelay=5760S:all=1\" -c:a pcm_s16le o.mov");
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunTool(dir, {"verify", "o.mov", "--html", "report.html"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_NE(r.err.find("sync: 2 marks missing: frame 60, frame 75"), std::string::npos) << r.err;
  const Screenshot shot = ShotOf(dir, chromium, "report.html", 1600);
  ASSERT_EQ(shot.height, 1600);
  constexpr int kChart = 4;
  const double across = tool::kPlotRight - tool::kPlotLeft;
  // The axis runs from -1 to 121 ms: +120 is 121/122 of the way up.
  const double y120 = tool::kChartTop + kChart * tool::kChartHeight + tool::kPlotBottom - tool::kPlotInset -
                      121.0 / 122 * (tool::kPlotBottom - tool::kPlotTop - 2 * tool::kPlotInset);
  const auto green = PointsOf(shot, kChart, tool::kQualityColour);
  std::set<int> marks_drawn;
  for (const auto& [x, y] : green) {
    EXPECT_NEAR(y, y120, 4);
    marks_drawn.insert(static_cast<int>(std::lround(((x - tool::kPlotLeft) * kFrames / across - 0.5) / 15)));
  }
  EXPECT_EQ(marks_drawn, (std::set<int>{0, 1, 2, 3, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}))
      << "a dot for each mark measured, none for marks 4 and 5 (frames 60, 75)";
  const std::vector<int> red = ColumnsOf(shot, kChart, tool::kPlotBottom - 5, tool::kDropColour);
  ASSERT_FALSE(red.empty());
  for (const int x : red) {
    const double frame = (x - tool::kPlotLeft) * kFrames / across - 0.5;
    EXPECT_TRUE(std::abs(frame - 60) <= 2 || std::abs(frame - 75) <= 2) << "red at frame " << frame;
  }
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

// A stream damaged on its way: a FRAME line broken, a packet's bytes
// overwritten. The frames lost are counted and said, the run goes on to
// the end and reads the frames after the damage, and exits 1; no frame
// reads as another's number.
TEST(VerifyDamagedStreamTest, DamageIsAFindingAndTheRunGoesOn) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  constexpr int kFrames = 30;
  TempDir dir;
  ASSERT_EQ(RunTool(dir, {"ColorBars(320, 240, length=30).TallyId()", "-o", "v.y4m"}).status, 0);
  ASSERT_EQ(Shell(dir, "ffmpeg -v error -i v.y4m -c:v libx264 -g 10 -bf 0 -preset veryfast v.mp4").status, 0);
  const std::string y4m = ReadFile(dir.Path("v.y4m")), mp4 = ReadFile(dir.Path("v.mp4"));
  // The n-th FRAME line of a stream.
  const auto frame_line = [&y4m](int n) {
    size_t at = y4m.find("FRAME");
    for (int k = 0; k < n; ++k) at = y4m.find("FRAME", at + 5);
    return at;
  };
  struct Case {
    const char* name;
    std::string bytes;
    const char* file;
    bool from_pipe;
    std::vector<int> damaged;  // frames said lost
    std::string line;          // the text report's line
    bool cut;
  };
  std::string broken_header = y4m, broken_params = y4m, broken_last = y4m, stomped = mp4;
  broken_header.replace(frame_line(2), 5, "FRXME");
  broken_params.replace(frame_line(7), 6, "FRAME ");  // parameters that never end in a line
  broken_params.replace(frame_line(7) + 6, 1100, std::string(1100, 'x'));
  broken_last.replace(frame_line(kFrames - 1), 2, "GR");
  // A stretch inside the file's media data, in the packets of frames 10 to 19.
  const size_t mdat = mp4.find("mdat");
  ASSERT_NE(mdat, std::string::npos);
  const size_t at = mdat + (mp4.size() - mdat) / 2;
  stomped.replace(at, 300, std::string(300, '\xff'));
  const Case cases[] = {
      {"a damaged FRAME line", broken_header, "d.y4m", false, {2}, "damaged: frame 2 (damaged FRAME header)\n", false},
      {"the same from a pipe", broken_header, "-", true, {2}, "damaged: frame 2 (damaged FRAME header)\n", false},
      {"FRAME parameters without an end",
       broken_params,
       "d.y4m",
       false,
       {7},
       "damaged: frame 7 (damaged FRAME header)\n",
       false},
      {"the last FRAME line damaged", broken_last, "d.y4m", false, {}, "the stream ends inside a frame\n", true},
      {"a packet overwritten", stomped, "d.mp4", false, {}, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = c.from_pipe ? "d.y4m" : c.file;
    WriteFile(dir.Path(file), c.bytes);
    const RunResult r = c.from_pipe ? RunTool(dir, {"verify", "-", "--json", "r.json"}, c.bytes)
                                    : RunTool(dir, {"verify", file, "--json", "r.json"});
    EXPECT_EQ(r.status, 1) << r.err;
    if (!c.line.empty()) {
      EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
    }
    const nlohmann::json report = nlohmann::json::parse(ReadFile(dir.Path("r.json")));
    EXPECT_EQ(report["cut"], c.cut);
    std::vector<int> damaged;
    for (const auto& d : report["damaged"]) damaged.push_back(d["frame"].get<int>());
    const auto& numbers = report["numbers"];
    if (std::string(c.file) == "d.mp4") {
      // Whatever the decoder made of it: some frames lost or unreadable,
      // and the last ones, after the next key frame, read again.
      EXPECT_LT(report["frames"]["decoded"].get<int>(), kFrames) << r.err;
      ASSERT_EQ(numbers.size(), static_cast<size_t>(kFrames)) << r.err;
      EXPECT_EQ(numbers[kFrames - 1], kFrames - 1) << r.err;
    } else {
      EXPECT_EQ(damaged, c.damaged) << r.err;
      ASSERT_EQ(numbers.size(), static_cast<size_t>(c.cut ? kFrames - 1 : kFrames)) << r.err;
    }
    for (size_t i = 0; i < numbers.size(); ++i) {
      if (std::find(damaged.begin(), damaged.end(), static_cast<int>(i)) != damaged.end()) {
        EXPECT_TRUE(numbers[i].is_null()) << "frame " << i;
      } else if (!numbers[i].is_null()) {
        EXPECT_EQ(numbers[i], i) << "frame " << i << " read as another number";
      }
    }
  }
}

// A reference with a damaged frame: that frame is compared with nothing
// (never with a picture that is not it), and the rest are compared as
// before, numbered by their code or by their place.
TEST(VerifyDamagedStreamTest, ADamagedReferenceFrameIsComparedWithNothing) {
  TempDir dir;
  ASSERT_EQ(RunTool(dir, {"ColorBars(320, 240, length=12).TallyId()", "-o", "v.y4m"}).status, 0);
  ASSERT_EQ(RunTool(dir, {"ColorBars(320, 240, length=12)", "-o", "plain.y4m"}).status, 0);
  for (const char* reference : {"v.y4m", "plain.y4m"}) {
    for (const int lost : {0, 5}) {
      SCOPED_TRACE(std::string(reference) + " frame " + std::to_string(lost));
      std::string bytes = ReadFile(dir.Path(reference));
      size_t at = bytes.find("FRAME");
      for (int k = 0; k < lost; ++k) at = bytes.find("FRAME", at + 5);
      bytes.replace(at, 5, "FRXME");
      WriteFile(dir.Path("ref.y4m"), bytes);
      const RunResult r = RunTool(dir, {"verify", "v.y4m", "--reference", "ref.y4m", "--json", "r.json"});
      EXPECT_EQ(r.status, 0) << r.err;
      const nlohmann::json summary = nlohmann::json::parse(ReadFile(dir.Path("r.json")))["quality_summary"];
      EXPECT_EQ(summary["compared"], 11) << r.err;
      ASSERT_EQ(summary["not_compared"].size(), 1u) << r.err;
      EXPECT_EQ(summary["not_compared"][0]["frame"], lost) << r.err;
      EXPECT_NE(summary["not_compared"][0]["why"].get<std::string>().find("damaged"), std::string::npos) << r.err;
      EXPECT_EQ(summary["numbered_by"], std::string(reference) == "v.y4m" ? "code" : "position") << r.err;
      // Every frame compared is the same picture as its reference.
      EXPECT_EQ(summary["ssim"]["identical"].get<int>() + summary["ssim"]["count"].get<int>(), 11) << r.err;
      if (summary["ssim"].contains("min")) {
        EXPECT_GT(summary["ssim"]["min"].get<double>(), 0.99) << r.err;
      }
    }
  }
}

TEST(VerifyCommandTest, CouldNotRunIsTwo) {
  TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"verify", "missing.y4m"}, {"verify", "--expect", "9-1"}, {"verify", "--bogus"}}) {
    const RunResult r = RunTool(dir, args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_EQ(r.err.rfind("tallyburn verify: ", 0), 0u) << r.err;
  }
}

// The summary, the JSON and the page are written from one report: the page
// shows the summary verify wrote on standard error, word for word, and the
// JSON holds the parts the summary reports, and no others.
TEST(VerifyCommandTest, TheSummaryJsonAndPageTellOneReport) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  ASSERT_EQ(RunTool(dir, {"ColorBars(640, 360, length=60, fps=25).TallyId()", "-o", "burned.y4m"}).status, 0);
  ASSERT_EQ(
      RunTool(dir, {"ColorBars(160, 64, length=60, fps=25).TallyId().TallySync(period=0.4)", "-o", "s.mov"}).status, 0);
  const RunResult trip = Shell(dir, "ffmpeg -v error -i burned.y4m -vf \"" + kDropAndRepeat + "\" " + kX264 +
                                        " -fps_mode passthrough -strict -1 -f yuv4mpegpipe out.y4m");
  ASSERT_EQ(trip.status, 0) << trip.err;
  const auto escaped = [](const std::string& text) {
    std::string out;
    for (const char c : text)
      out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
    return out;
  };
  for (const std::vector<std::string>& run : {std::vector<std::string>{"out.y4m", "--reference", "burned.y4m"},
                                              {"out.y4m", "--expect", "0-70"},
                                              {"s.mov"},
                                              {"s.mov", "--no-sync"}}) {
    std::vector<std::string> args = {"verify"};
    args.insert(args.end(), run.begin(), run.end());
    args.insert(args.end(), {"--json", "r.json", "--html", "r.html"});
    const RunResult r = RunTool(dir, args);
    SCOPED_TRACE(r.err);
    ASSERT_NE(r.status, 2);
    EXPECT_NE(ReadFile(dir.Path("r.html")).find("<pre>" + escaped(r.err) + "</pre>"), std::string::npos);
    const auto json = nlohmann::json::parse(ReadFile(dir.Path("r.json")));
    EXPECT_EQ(json["intact"], r.status == 0);
    EXPECT_EQ(json.contains("quality_summary"), r.err.find("\nquality against ") != std::string::npos);
    EXPECT_EQ(json.contains("sync_summary"), r.err.find("\nsync: ") != std::string::npos);
    EXPECT_EQ(json.contains("timing"), r.err.find("\nframe intervals: ") != std::string::npos);
    EXPECT_EQ(json["dropped"].empty(), r.err.find("\ndropped: ") == std::string::npos);
  }
}

}  // namespace
}  // namespace tallyburn::testing
