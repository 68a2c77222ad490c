// verify on media files with sound: TallySync's marks muxed with TallyId's
// frames, known faults put in the sound by ffmpeg, and what verify's JSON
// says of each: within a millisecond, or a tenth of a frame at 60 fps,
// whichever is larger.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sync/tally_sync.h"
#include "tests/tool/sound_files.h"
#include "tests/tool/tool_support.h"

namespace tallyburn::testing {
namespace {

constexpr double kTolerance = std::max(1.0, 1000.0 / 60 / 10);  // ms
constexpr double kPeriodMs = 500.5;                             // 15 frames at 29.97
constexpr int kFrames = 240;                                    // 8 s

bool Have(const char* program) {
  return std::system((std::string("command -v ") + program + " > /dev/null 2>&1").c_str()) == 0;
}

struct Fault {
  const char* name;
  std::string before_sound;                 // ffmpeg's options for the sound input
  std::string change;                       // and for the sound out
  std::string output;                       // the file verify reads (its frames copied, but into MP4)
  std::function<double(double)> offset_ms;  // at a frame's time, in seconds
  std::vector<uint32_t> missing;            // frames whose marks are lost
  double drift_ms_per_minute = 0;
  int64_t whole_periods = 0;
};

double Zero(double) { return 0; }

// The marks of a clip of `frames`, one every half second in whole frames
// (15 at 29.97), stereo 48 kHz.
Sound Marks(int frames, uint32_t fps_num = 30000) {
  sync::SyncRequest request;
  request.fps_num = fps_num, request.fps_den = 1001, request.num_frames = frames, request.period = 0.5;
  const sync::SyncPlan plan = *sync::PlanSync(request).plan;
  Sound marks{plan.rate, plan.channels, std::vector<float>(static_cast<size_t>(plan.samples * plan.channels))};
  sync::MarkGenerator(plan).Fill(marks.samples.data(), 0, plan.samples, sync::SampleType::kFloat);
  return marks;
}

TEST(VerifySync, EachFaultInTheSoundIsMeasured) {
  if (!Have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const Fault faults[] = {
      {"intact, PCM in MOV", "", "-c:a pcm_s16le", "o.mov", Zero, {}},
      {"AAC at 32 kb/s in MP4", "", "-c:v libx264 -qp 0 -c:a aac -b:a 32k", "o.mp4", Zero, {}},
      // In MP4, whose edit list holds the priming; Matroska's muxer moves the
      // frames on by it instead (7 ms), and verify measures that.
      {"Opus at 16 kb/s in MP4", "", "-c:v libx264 -qp 0 -c:a libopus -b:a 16k", "o.mp4", Zero, {}},
      // Matroska's timestamps round the pre-skip to the millisecond: the
      // first mark's start lies before the first sample, and still reads.
      {"Opus at 32 kb/s in MKV", "", "-c:v copy -c:a libopus -b:a 32k", "o.mkv", [](double) { return -7.0; }, {}},
      {"intact, PCM in MKV", "", "-c:a pcm_s16le", "o.mkv", Zero, {}},
      {"adelay 120 ms", "", "-af adelay=5760S:all=1 -c:a pcm_s16le", "o.mov", [](double) { return 120.0; }, {}},
      {"-itsoffset 0.25", "-itsoffset 0.25", "-c:a pcm_s16le", "o.mov", [](double) { return 250.0; }, {}},
      {"-itsoffset -0.25", "-itsoffset -0.25", "-c:a pcm_s16le", "o.mov", [](double) { return -250.0; }, {0}},
      // A sound clock 0.1% fast: the sound runs ahead by a millisecond a second.
      {"clock 0.1% fast",
       "",
       "-af asetrate=48048,aresample=48000 -c:a pcm_s16le",
       "o.mov",
       [](double t) { return (t / 1.001 - t) * 1000; },
       {},
       (1 / 1.001 - 1) * 60000},
      {"resampled to 44.1 kHz", "", "-ar 44100 -c:a pcm_s16le", "o.mov", Zero, {}},
      {"mono downmix", "", "-ac 1 -c:a pcm_s16le", "o.mov", Zero, {}},
      // A second cut out: the marks after it come a second early, two
      // periods, which their pitches tell apart.
      {"a second cut out",
       "",
       "-filter_complex '[1:a]atrim=end=1.8[a];[1:a]atrim=start=2.8,asetpts=PTS-STARTPTS[b];[a][b]concat=v=0:a=1[s]' "
       "-map '[s]' -c:a pcm_s16le",
       "o.mov",
       [](double t) { return t < 1.8 ? 0.0 : -1000.0; },
       {60, 75},
       0,
       -1},
      {"a whole period late",
       "",
       "-af adelay=24024S:all=1 -c:a pcm_s16le",
       "o.mov",
       [](double) { return kPeriodMs; },
       {},
       0,
       1},
  };
  TempDir dir;
  ASSERT_EQ(
      RunTool(dir, {"ColorBars(160, 64, length=240, fps=30000, fps_denominator=1001).TallyId()", "-o", "v.mov"}).status,
      0);
  WriteWav(dir.Path("m.wav"), Marks(kFrames));
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    const bool filtered = f.change.find("-map") != std::string::npos;
    const RunResult mux = Shell(dir, "ffmpeg -v error -nostdin -y -i v.mov " + f.before_sound + " -i m.wav -map 0:v " +
                                         (filtered ? "" : "-map 1:a ") + "-c:v copy " + f.change + " " + f.output);
    ASSERT_EQ(mux.status, 0) << mux.err;
    const RunResult r = RunTool(dir, {"verify", f.output, "--json", "r.json"});
    EXPECT_EQ(r.status, 0) << r.err;
    const nlohmann::json report = nlohmann::json::parse(ReadFile(dir.Path("r.json")));
    ASSERT_TRUE(report.contains("sync_summary")) << r.err;
    const nlohmann::json& summary = report["sync_summary"];
    std::vector<uint32_t> missing;
    double worst = 0;
    for (const nlohmann::json& e : report["sync"]) {
      if (e["status"] == "missing") missing.push_back(e["number"].get<uint32_t>());
      if (e["status"] != "measured") continue;
      const double error = e["offset_ms"].get<double>() - f.offset_ms(e["frame_time"].get<double>());
      worst = std::max(worst, std::abs(error));
      EXPECT_LE(std::abs(error), kTolerance) << "number " << e["number"] << " offset " << e["offset_ms"] << " ms";
    }
    EXPECT_EQ(missing, f.missing) << r.err;
    EXPECT_EQ(summary["measured"].get<int>(), 16 - static_cast<int>(f.missing.size())) << r.err;
    EXPECT_EQ(summary["extra"].get<int>() + summary["unreadable"].get<int>() + summary["no_frame"].get<int>(), 0)
        << r.err;
    EXPECT_EQ(summary["whole_periods"].get<int64_t>(), f.whole_periods) << r.err;
    if (f.whole_periods == 0 && f.missing.empty()) {
      // The line's slope, over the 7.5 s the marks span, within the tolerance.
      ASSERT_TRUE(summary["drift_ms_per_minute"].is_number()) << r.err;
      EXPECT_LE(std::abs(summary["drift_ms_per_minute"].get<double>() - f.drift_ms_per_minute) * 7.5 / 60, kTolerance)
          << summary["drift_ms_per_minute"] << " ms/min";
    }
    EXPECT_NE(r.err.find("sync: "), std::string::npos) << r.err;
    std::printf("[ %-24s ] worst error %.3f ms\n", f.name, worst);
  }
}

// atempo (WSOLA) keeps the pitch by overlapping pieces of the sound, and
// moves a mark by up to ~20 ms; every mark still reads. A stretch of the
// sound alone (0.2% fast over 30 s) is judged on the fitted line, not mark
// by mark: -119.76 ms a minute. PAL speed-up stretches both (23.976 fps
// shown at 25, the sound made 4.3% faster to match): the marks stay with
// their frames.
TEST(VerifySync, MarksReadAfterAtempo) {
  if (!Have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  constexpr int kLong = 900;  // at 23.976, 75 marks, one every 12 frames
  struct Stretch {
    const char* name;
    std::string change;  // ffmpeg's options for the frames and the sound
    double faster;       // the sound against its frames: 1.002 is 0.2% fast
    bool drift_fitted;   // the fitted slope is checked too
  };
  const Stretch stretches[] = {
      {"sound alone 0.2% fast", "-c:v copy -af atempo=1.002", 1.002, true},
      {"sound alone 0.05% fast", "-c:v copy -af atempo=1.0005", 1.0005, true},
      {"PAL speed-up", "-vf setpts=PTS*24000/25025 -r 25 -c:v libx264 -qp 0 -af atempo=25025/24000", 1, false},
  };
  constexpr double kMovedMs = 25;  // how far WSOLA moves a mark
  TempDir dir;
  ASSERT_EQ(
      RunTool(dir, {"ColorBars(160, 64, length=900, fps=24000, fps_denominator=1001).TallyId()", "-o", "v.mov"}).status,
      0);
  WriteWav(dir.Path("m.wav"), Marks(kLong, 24000));
  for (const Stretch& s : stretches) {
    SCOPED_TRACE(s.name);
    const RunResult mux = Shell(
        dir, "ffmpeg -v error -nostdin -y -i v.mov -i m.wav -map 0:v -map 1:a " + s.change + " -c:a pcm_s16le o.mov");
    ASSERT_EQ(mux.status, 0) << mux.err;
    const RunResult r = RunTool(dir, {"verify", "o.mov", "--json", "r.json"});
    EXPECT_EQ(r.status, 0) << r.err;
    const nlohmann::json report = nlohmann::json::parse(ReadFile(dir.Path("r.json")));
    const nlohmann::json& summary = report["sync_summary"];
    EXPECT_EQ(summary["measured"].get<int>(), kLong / 12) << r.err;
    EXPECT_EQ(summary["whole_periods"].get<int64_t>(), 0) << r.err;
    for (const nlohmann::json& e : report["sync"])
      if (e["status"] == "measured") {
        const double line = (1 / s.faster - 1) * e["frame_time"].get<double>() * 1000;
        EXPECT_LE(std::abs(e["offset_ms"].get<double>() - line), kMovedMs) << e;
      }
    if (s.drift_fitted) {
      const double span_s = (kLong - 12) * 1001.0 / 24000;
      ASSERT_TRUE(summary["drift_ms_per_minute"].is_number()) << r.err;
      EXPECT_LE(std::abs(summary["drift_ms_per_minute"].get<double>() - (1 / s.faster - 1) * 60000) * span_s / 60,
                kTolerance)
          << r.err;
    }
  }
}

// Sound without marks: one line says so, the frames' verdict stands; and
// --no-sync leaves the sound unread.
TEST(VerifySync, SoundWithoutMarksIsOneLine) {
  if (!Have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  ASSERT_EQ(RunTool(dir, {"ColorBars(160, 64, length=30, fps=30).TallyId()", "-o", "v.mov"}).status, 0);
  const RunResult mux =
      Shell(dir,
            "ffmpeg -v error -nostdin -y -i v.mov -f lavfi -i sine=frequency=440:duration=1,afade=d=0.5 "
            "-map 0:v -map 1:a -c:v copy -c:a pcm_s16le o.mov");
  ASSERT_EQ(mux.status, 0) << mux.err;
  const RunResult r = RunTool(dir, {"verify", "o.mov", "--json", "r.json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("sync: no mark measured"), std::string::npos) << r.err;
  const nlohmann::json report = nlohmann::json::parse(ReadFile(dir.Path("r.json")));
  EXPECT_EQ(report["sync_summary"]["measured"], 0);
  const RunResult off = RunTool(dir, {"verify", "o.mov", "--no-sync", "--json", "r.json"});
  EXPECT_EQ(off.status, 0) << off.err;
  EXPECT_EQ(off.err.find("sync: "), std::string::npos) << off.err;
  EXPECT_FALSE(nlohmann::json::parse(ReadFile(dir.Path("r.json"))).contains("sync"));
}

}  // namespace
}  // namespace tallyburn::testing
