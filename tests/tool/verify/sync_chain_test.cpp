// The marks sent through ffmpeg with known faults in the sound, and what
// the detector and the analysis say of each: within a millisecond, or a
// tenth of a frame at 60 fps, whichever is larger.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "sync/tally_sync.h"
#include "tests/tool/sound_files.h"
#include "tool/verify/report_text.h"
#include "tool/verify/sync_analysis.h"

namespace tallyburn::tool {
namespace {

using testing::RunIn;
using testing::ScratchDir;
using testing::Sound;

constexpr double kTolerance = std::max(1.0, 1000.0 / 60 / 10);  // ms
constexpr double kPeriodMs = 500.5;                             // 15 frames at 29.97

bool Have(const char* program) {
  return std::system((std::string("command -v ") + program + " > /dev/null 2>&1").c_str()) == 0;
}

struct Chain {
  const char* name;
  std::string before_input;                 // ffmpeg's options for the input
  std::string change;                       // and for the output
  std::string output;                       // its file
  std::function<double(double)> offset_ms;  // at a frame's time, in seconds
  std::vector<uint32_t> missing;            // frames whose marks are lost
  double drift_ms_per_minute = 0;
  int64_t whole_periods = 0;
};

double Constant0(double) { return 0; }

TEST(SyncThroughFfmpeg, EachFaultIsMeasured) {
  if (!Have("ffmpeg") || !Have("ffprobe")) GTEST_SKIP() << "ffmpeg or ffprobe is not installed; .ci/run installs them";
  const Chain chains[] = {
      {"intact", "", "-c:a pcm_f32le", "o.wav", Constant0, {}},
      {"adelay 120 ms", "", "-af adelay=5760S:all=1 -c:a pcm_f32le", "o.wav", [](double) { return 120.0; }, {}},
      {"-itsoffset 0.25", "-itsoffset 0.25", "-c:a pcm_s16le", "o.mov", [](double) { return 250.0; }, {}},
      {"-itsoffset -0.25", "-itsoffset -0.25", "-c:a pcm_s16le", "o.mov", [](double) { return -250.0; }, {0}},
      // A sound clock 0.1% fast: the sound runs ahead by a millisecond a second.
      {"clock 0.1% fast",
       "",
       "-af asetrate=48048,aresample=48000 -c:a pcm_f32le",
       "o.wav",
       [](double t) { return (t / 1.001 - t) * 1000; },
       {},
       (1 / 1.001 - 1) * 60000},
      {"resampled to 44.1 kHz", "", "-ar 44100 -c:a pcm_f32le", "o.wav", Constant0, {}},
      {"AAC at 32 kb/s", "", "-c:a aac -b:a 32k", "o.m4a", Constant0, {}},
      {"Opus at 16 kb/s", "", "-c:a libopus -b:a 16k", "o.ogg", Constant0, {}},
      {"mono downmix", "", "-ac 1 -c:a pcm_f32le", "o.wav", Constant0, {}},
      {"a second silenced",
       "",
       "-af \"volume=enable='between(t,1.8,2.8)':volume=0\" -c:a pcm_f32le",
       "o.wav",
       Constant0,
       {60, 75}},
      // The second taken out: the marks after it come a second early,
      // two periods, which their pitches tell apart.
      {"a second taken out",
       "",
       "-filter_complex '[0:a]atrim=end=1.8[a];[0:a]atrim=start=2.8,asetpts=PTS-STARTPTS[b];[a][b]concat=v=0:a=1' "
       "-c:a pcm_f32le",
       "o.wav",
       [](double t) { return t < 1.8 ? 0.0 : -1000.0; },
       {60, 75},
       0,
       -1},
      {"a whole period late",
       "",
       "-af adelay=24024S:all=1 -c:a pcm_f32le",
       "o.wav",
       [](double) { return kPeriodMs; },
       {},
       0,
       1},
  };
  // 8 s at 29.97, a mark every 15 frames, stereo at 48 kHz.
  sync::SyncRequest request;
  request.fps_num = 30000, request.fps_den = 1001, request.num_frames = 240, request.period = 0.5;
  const sync::SyncPlan plan = *sync::PlanSync(request).plan;
  Sound marks{plan.rate, plan.channels, std::vector<float>(static_cast<size_t>(plan.samples * plan.channels))};
  sync::MarkGenerator(plan).Fill(marks.samples.data(), 0, plan.samples, sync::SampleType::kFloat);
  std::vector<FrameTime> video;
  for (uint32_t n = 0; n < 240; ++n) video.push_back({n, n * 1001.0 / 30000});

  for (const Chain& c : chains) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    testing::WriteWav(dir.path() / "in.wav", marks);
    std::string log;
    ASSERT_EQ(
        RunIn(dir, "ffmpeg -v error -nostdin " + c.before_input + " -i in.wav " + c.change + " " + c.output, &log), 0)
        << log;
    ASSERT_EQ(RunIn(dir, "ffmpeg -v error -nostdin -i " + c.output + " -c:a pcm_f32le back.wav", &log), 0) << log;
    std::string start;
    ASSERT_EQ(RunIn(dir, "ffprobe -v error -select_streams a -show_entries stream=start_time -of csv=p=0 " + c.output,
                    &start),
              0)
        << start;
    const Sound back = testing::ReadWav(dir.path() / "back.wav");
    SyncOptions options;
    options.sound_start = std::atof(start.c_str());
    const SyncReport report = MeasureSync(back.samples.data(), back.frames(), back.channels, back.rate, video, options);
    std::vector<uint32_t> missing;
    double worst = 0;
    for (const SyncEntry& e : report.entries) {
      if (e.status == SyncEntry::Status::kMissing) missing.push_back(*e.number);
      if (e.status != SyncEntry::Status::kMeasured) continue;
      const double error = *e.offset_ms - c.offset_ms(*e.frame_time);
      worst = std::max(worst, std::abs(error));
      EXPECT_LE(std::abs(error), kTolerance) << "frame " << *e.number << " offset " << *e.offset_ms << " ms";
    }
    EXPECT_EQ(missing, c.missing) << SyncText(report);
    EXPECT_EQ(report.measured, 16 - static_cast<int>(c.missing.size())) << SyncText(report);
    EXPECT_EQ(report.extra + report.unreadable + report.no_frame, 0) << SyncText(report);
    EXPECT_EQ(report.whole_periods, c.whole_periods);
    if (std::string(c.name) != "a second taken out") {
      // The line's slope, over the 7.5 s the marks span, within the tolerance.
      ASSERT_TRUE(report.drift_ms_per_minute.has_value());
      EXPECT_LE(std::abs(*report.drift_ms_per_minute - c.drift_ms_per_minute) * 7.5 / 60, kTolerance)
          << *report.drift_ms_per_minute << " ms/min";
    }
    std::printf("[ %-22s ] %s    worst error %.3f ms\n", c.name, SyncText(report).substr(6, 70).c_str(), worst);
  }
}

}  // namespace
}  // namespace tallyburn::tool
