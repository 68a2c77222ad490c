// MediaSource and verify on files ffmpeg makes here: every container and
// codec family, depth and subsampling, frames compared byte for byte with
// ffmpeg's own decode, read in order and out of it; files cut short, with
// uneven frame times, with two video tracks, and the errors that name them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <numeric>
#include <ostream>
#include <random>
#include <sstream>

#include "slot_planes.h"
#include "tests/tool/tool_support.h"
#include "tool/media/media_input.h"
#include "tool/script/context.h"
#include "tool/script/script.h"
#include "tool/script/sources.h"

namespace tallyburn::testing {
namespace {

bool HaveFfmpeg() { return std::system("command -v ffmpeg > /dev/null 2>&1") == 0; }

constexpr const char* kPicture = "-f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 20";
// With an alpha plane that changes across the picture and from frame to frame.
constexpr const char* kAlphaPicture =
    "-f lavfi -i \"testsrc2=size=96x64:rate=25,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='X*2+N'\" "
    "-frames:v 20";

// A host frame's bytes as ffmpeg's rawvideo lays out the same format: slot
// planes top line first, then the alpha plane.
std::string RawBytes(frameserver::Environment& env, const PVideoFrame& frame, const PixelFormat& f, int w, int h) {
  std::string out;
  for (int k = 0; k < SlotPlanes(f); ++k) {
    const int plane = kSlotPlaneIds[k];
    const PlaneSize size = PlaneSizeOf(f, w, h, k);
    for (int r = 0; r < size.height; ++r) {
      const int line = f.bottom_up() ? size.height - 1 - r : r;
      const auto* p = frame->GetReadPtr(plane) + static_cast<ptrdiff_t>(line) * frame->GetPitch(plane);
      out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(size.row_bytes));
    }
  }
  if (f.alpha && f.family != Family::kPackedRgb) {
    for (const frameserver::PlaneGeometry& g : *env.frames().Planes(frame.get())) {
      if (g.plane != frameserver::kPlaneAlpha) continue;
      for (int r = 0; r < g.height; ++r)
        out.append(reinterpret_cast<const char*>(frame->vfb->data + g.offset + static_cast<size_t>(r) * g.pitch),
                   static_cast<size_t>(g.row_size));
    }
  }
  return out;
}

// ffmpeg's decode of `file`, one string per frame, as raw `pix_fmt`.
std::vector<std::string> FfmpegFrames(const TempDir& dir, const std::string& file, const std::string& pix_fmt,
                                      size_t frame_bytes) {
  const RunResult r = Shell(dir, "ffmpeg -v error -i " + Quote(file) + " -fps_mode passthrough -f rawvideo -pix_fmt " +
                                     pix_fmt + " -y decoded.raw");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string all = ReadFile(dir.Path("decoded.raw"));
  std::vector<std::string> frames;
  for (size_t at = 0; at + frame_bytes <= all.size(); at += frame_bytes) frames.push_back(all.substr(at, frame_bytes));
  return frames;
}

size_t FrameBytes(const PixelFormat& f, int w, int h) {
  size_t bytes = 0;
  for (int k = 0; k < SlotPlanes(f); ++k) {
    const PlaneSize p = PlaneSizeOf(f, w, h, k);
    bytes += static_cast<size_t>(p.row_bytes) * static_cast<size_t>(p.height);
  }
  if (f.alpha && f.family != Family::kPackedRgb) bytes += static_cast<size_t>(w) * h * f.bytes_per_sample;
  return bytes;
}

// The script's clip, evaluated in this process, and the run's context.
class MediaHost : public ::testing::Test {
 protected:
  MediaHost() { tool::RegisterBuiltins(env, context); }
  PClip Clip(const std::string& script) { return tool::EvaluateScript(env, script).AsClip(); }
  std::string ErrorOf(const std::string& script) {
    try {
      Clip(script);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  frameserver::Environment env;
  tool::ToolContext context;
};

struct MediaCase {
  const char* name;
  const char* file;
  const char* encode;   // ffmpeg's options after the picture
  const char* decoded;  // the decoder's format
  const char* host;     // the clip's
  const char* raw;      // ffmpeg's name of the clip's layout, for its own decode to compare with
  bool alpha_source = false;
};

void PrintTo(const MediaCase& c, std::ostream* os) { *os << c.name; }

class MediaFormatTest : public MediaHost, public ::testing::WithParamInterface<MediaCase> {};

TEST_P(MediaFormatTest, FramesAreFfmpegsInAnyOrder) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const MediaCase& c = GetParam();
  TempDir dir;
  const std::string file = dir.Path(c.file);
  const RunResult made = Shell(dir, std::string("ffmpeg -v error ") + (c.alpha_source ? kAlphaPicture : kPicture) +
                                        " " + c.encode + " " + Quote(file));
  ASSERT_EQ(made.status, 0) << made.err;

  const PClip clip = Clip("MediaSource(\"" + file + "\")");
  const VideoInfo vi = clip->GetVideoInfo();
  const PixelFormat f = *DescribePixelType(vi.pixel_type);
  EXPECT_STREQ(f.name, c.host);
  EXPECT_EQ(vi.width, 96);
  EXPECT_EQ(vi.height, 64);
  EXPECT_EQ(vi.fps_numerator, 25u);
  EXPECT_EQ(vi.fps_denominator, 1u);
  ASSERT_EQ(context.descriptions().size(), 1u);
  EXPECT_NE(context.descriptions()[0].find(c.decoded), std::string::npos) << context.descriptions()[0];
  const bool converted = std::string(c.decoded) != c.raw;
  EXPECT_EQ(context.descriptions()[0].find("converted") != std::string::npos, converted) << context.descriptions()[0];

  const std::vector<std::string> want = FfmpegFrames(dir, file, c.raw, FrameBytes(f, vi.width, vi.height));
  ASSERT_EQ(vi.num_frames, 20);
  ASSERT_EQ(want.size(), 20u);
  // In order, then backwards and in a shuffled order: each seek lands on a
  // key frame before the one asked for.
  std::vector<int> order(20);
  for (int n = 0; n < 20; ++n) order[static_cast<size_t>(n)] = n;
  std::vector<int> backwards(order.rbegin(), order.rend());
  std::vector<int> shuffled = order;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(17));
  for (const auto* sequence : {&order, &backwards, &shuffled}) {
    for (const int n : *sequence) {
      SCOPED_TRACE("frame " + std::to_string(n));
      const PVideoFrame frame = env.FetchFrame(clip, n);
      ASSERT_TRUE(RawBytes(env, frame, f, vi.width, vi.height) == want[static_cast<size_t>(n)]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, MediaFormatTest,
    ::testing::Values(
        MediaCase{"mp4_h264_bframes", "in.mp4", "-c:v libx264 -pix_fmt yuv420p -bf 3 -g 12", "yuv420p", "YV12",
                  "yuv420p"},
        MediaCase{"mkv_h264_422_10bit", "in.mkv", "-c:v libx264 -pix_fmt yuv422p10le -bf 2 -g 10", "yuv422p10le",
                  "YUV422P10", "yuv422p10le"},
        MediaCase{"mkv_h264_444", "in.mkv", "-c:v libx264 -pix_fmt yuv444p -bf 3 -g 8", "yuv444p", "YV24", "yuv444p"},
        MediaCase{"mov_prores_422_10bit", "in.mov", "-c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le", "yuv422p10le",
                  "YUV422P10", "yuv422p10le"},
        MediaCase{"mov_prores_4444_alpha", "in.mov", "-c:v prores_ks -profile:v 4 -pix_fmt yuva444p10le",
                  "yuva444p12le", "YUVA444P12", "yuva444p12le", true},
        MediaCase{"mxf_mpeg2_422", "in.mxf", "-c:v mpeg2video -pix_fmt yuv422p -bf 2 -g 12", "yuv422p", "YV16",
                  "yuv422p"},
        // MPEG-2's GOPs are open: their first B-frames refer to the GOP before.
        MediaCase{"ts_mpeg2_open_gop", "in.ts", "-c:v mpeg2video -bf 2 -g 12", "yuv420p", "YV12", "yuv420p"},
        MediaCase{"ts_h264_open_gop", "in.ts", "-c:v libx264 -x264-params open-gop=1:keyint=8 -bf 3", "yuv420p", "YV12",
                  "yuv420p"},
        // AVI gives its packets no presentation times.
        MediaCase{"avi_mpeg4_bframes", "in.avi", "-c:v mpeg4 -bf 2 -g 12", "yuv420p", "YV12", "yuv420p"},
        MediaCase{"avi_h264_bframes", "in.avi", "-c:v libx264 -bf 2 -g 6", "yuv420p", "YV12", "yuv420p"},
        MediaCase{"y4m_gray16", "in.y4m", "-pix_fmt gray16le -strict -1", "gray16le", "Y16", "gray16le"},
        MediaCase{"mkv_h264rgb_gbrp", "in.mkv", "-c:v libx264rgb -bf 2 -g 8", "gbrp", "RGBP8", "gbrp"},
        MediaCase{"mkv_ffv1_gbrp10", "in.mkv", "-c:v ffv1 -pix_fmt gbrp10le", "gbrp10le", "RGBP10", "gbrp10le"},
        MediaCase{"mkv_ffv1_yuva420p", "in.mkv", "-c:v ffv1 -pix_fmt yuva420p", "yuva420p", "YUVA420P8", "yuva420p",
                  true},
        MediaCase{"nut_raw_bgra", "in.nut", "-c:v rawvideo -pix_fmt bgra", "bgra", "RGB32", "bgra", true},
        // Formats with no host twin, converted to one that holds them.
        MediaCase{"png_sequence_rgb24", "img%03d.png", "-pix_fmt rgb24", "rgb24", "RGB24", "bgr24"},
        MediaCase{"nut_raw_nv12", "in.nut", "-c:v rawvideo -pix_fmt nv12", "nv12", "YV12", "yuv420p"},
        MediaCase{"mkv_ffv1_rgb_as_bgr0", "in.mkv", "-c:v ffv1 -pix_fmt bgr0", "bgr0", "RGB24", "bgr24"}),
    [](const ::testing::TestParamInfo<MediaCase>& p) { return std::string(p.param.name); });

TEST(MediaPixelTypeTest, DecodedFormatsComeAsTheirHostTwinElseConvertedLosslessly) {
  const struct {
    const char* decoded;
    const char* host;
    bool converted;
  } cases[] = {
      {"yuv420p", "YV12", false},
      {"yuvj420p", "YV12", false},
      {"yuv422p10le", "YUV422P10", false},
      {"gray16le", "Y16", false},
      {"gbrp", "RGBP8", false},
      {"bgr24", "RGB24", false},
      {"bgra", "RGB32", false},
      {"yuva420p", "YUVA420P8", false},
      {"gbrap16le", "RGBAP16", false},
      {"bgr48le", "RGB48", false},
      {"rgb24", "RGB24", true},
      {"rgba", "RGB32", true},
      {"nv12", "YV12", true},
      {"p010le", "YUV420P10", true},
      {"yuv420p9le", "YUV420P10", true},
      {"yuv440p", "YV24", true},
      {"yuv422p10be", "YUV422P10", true},
      {"ya8", "YUVA444P8", true},
      {"rgb48be", "RGB48", true},
      {"pal8", "RGB32", true},
      {"yuyv422", "YUY2", false},
      {"uyvy422", "YV16", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.decoded);
    bool converted = !c.converted;
    const int type = tool::MediaPixelType(c.decoded, &converted);
    ASSERT_NE(type, 0);
    EXPECT_STREQ(DescribePixelType(type)->name, c.host);
    EXPECT_EQ(converted, c.converted);
  }
}

// The frames of an uncut file, as ffmpeg decodes it.
std::vector<std::string> WholeFrames(const TempDir& dir, const std::string& file) {
  return FfmpegFrames(dir, file, "yuv420p", 96 * 64 * 3 / 2);
}

struct CutCase {
  const char* name;
  const char* file;
  const char* encode;
  int keep_permille;  // of the file's bytes
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class MediaCutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(MediaCutTest, DeliversTheWholeFramesThenOneLineAndExitOne) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const CutCase& c = GetParam();
  TempDir dir;
  const std::string whole = std::string("whole.") + c.file;
  ASSERT_EQ(Shell(dir, std::string("ffmpeg -v error ") + kPicture + " " + c.encode + " " + whole).status, 0);
  const std::string bytes = ReadFile(dir.Path(whole));
  const std::string cut = std::string("cut.") + c.file;
  WriteFile(dir.Path(cut), bytes.substr(0, bytes.size() * static_cast<size_t>(c.keep_permille) / 1000));

  const RunResult r = RunTool(dir, {"MediaSource(\"" + cut + "\")", "-o", "out.y4m"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find(cut + ": the file is cut short after frame"), std::string::npos) << r.err;
  // The whole frames before the cut came out, and they are the uncut file's.
  const RunResult info = RunTool(dir, {"--info", "MediaSource(\"" + cut + "\")"});
  ASSERT_EQ(info.status, 0) << info.err;
  const size_t at = info.out.find("frames      ");
  ASSERT_NE(at, std::string::npos);
  const int frames = std::atoi(info.out.c_str() + at + 12);
  EXPECT_GT(frames, 3);
  EXPECT_LT(frames, 20);
  EXPECT_NE(r.err.find("(" + std::to_string(frames) + " whole frames)"), std::string::npos) << r.err;
  // A stream written to a file is replaced only on success: the frames
  // come to a pipe.
  const RunResult piped =
      Shell(dir, Quote(TALLYBURN_TOOL_PATH) + " 'MediaSource(\"" + cut + "\")' -o - > piped.y4m; test $? -eq 1");
  ASSERT_EQ(piped.status, 0) << piped.err;
  const std::vector<std::string> got = FfmpegFrames(dir, "piped.y4m", "yuv420p", 96 * 64 * 3 / 2);
  const std::vector<std::string> want = WholeFrames(dir, whole);
  ASSERT_EQ(got.size(), static_cast<size_t>(frames));
  for (int n = 0; n < frames; ++n) EXPECT_TRUE(got[static_cast<size_t>(n)] == want[static_cast<size_t>(n)]) << n;
  // A range that ends before the cut is no error.
  EXPECT_EQ(RunTool(dir, {"MediaSource(\"" + cut + "\")", "--frames", "0-2", "-o", "part.y4m"}).status, 0);
  // verify says the same of the file.
  const RunResult v = RunTool(dir, {"verify", cut, "--json", "report.json"});
  EXPECT_EQ(v.status, 1) << v.err;
  const auto report = nlohmann::json::parse(ReadFile(dir.Path("report.json")));
  EXPECT_TRUE(report["cut"].get<bool>());
  EXPECT_EQ(report["frames"]["read"].get<int>(), frames);
}

INSTANTIATE_TEST_SUITE_P(Files, MediaCutTest,
                         ::testing::Values(CutCase{"mp4", "mp4", "-c:v libx264 -bf 2 -g 6 -movflags +faststart", 600},
                                           CutCase{"mkv", "mkv", "-c:v libx264 -bf 2 -g 6", 600},
                                           CutCase{"ts", "ts", "-c:v libx264 -bf 2 -g 6", 603},
                                           CutCase{"y4m", "y4m", "-pix_fmt yuv420p", 500}),
                         [](const ::testing::TestParamInfo<CutCase>& p) { return std::string(p.param.name); });

// A packet of a file in decode order: where its bytes are, and when it is
// shown.
struct FilePacket {
  int64_t pos, size;
  double time;
};

std::vector<FilePacket> PacketsOf(const TempDir& dir, const std::string& file) {
  const RunResult r = Shell(
      dir, "ffprobe -v error -select_streams v -show_entries packet=pos,size,pts_time -of csv=p=0 " + Quote(file));
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<FilePacket> packets;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    FilePacket p{};
    if (std::sscanf(line.c_str(), "%lf,%" SCNd64 ",%" SCNd64, &p.time, &p.size, &p.pos) == 3) packets.push_back(p);
  }
  return packets;
}

// The numbers verify reads from the frames of a YUV4MPEG2 file.
std::vector<int> NumbersOf(const TempDir& dir, const std::string& y4m) {
  const RunResult v = RunTool(dir, {"verify", y4m, "--json", "numbers.json"});
  EXPECT_NE(v.status, -1) << v.err;
  return nlohmann::json::parse(ReadFile(dir.Path("numbers.json")))["numbers"].get<std::vector<int>>();
}

struct BframeCutCase {
  const char* name;
  const char* file;
  const char* encode;
};

void PrintTo(const BframeCutCase& c, std::ostream* os) { *os << c.name; }

class MediaBframeCutTest : public MediaHost, public ::testing::WithParamInterface<BframeCutCase> {};

// Cut through a packet, a file with B-frames holds the packets before it
// in decode order: a P-frame whose B-frames (shown before it) are cut off
// leaves a hole in presentation order. The frames before the first hole
// are the whole ones, delivered each in its place, in any order, with or
// without fps_num; then one line and exit status 1.
TEST_P(MediaBframeCutTest, DeliversEachWholeFrameInItsPlaceThenOneLine) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const BframeCutCase& c = GetParam();
  TempDir dir;
  // Moving pictures (so that every packet has bytes to cut through), each
  // with its number burned in.
  ASSERT_EQ(
      Shell(dir, "ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 30 -c:v ffv1 src.mkv").status, 0);
  ASSERT_EQ(RunTool(dir, {"MediaSource(\"src.mkv\").TallyId()", "-o", "burned.y4m"}).status, 0);
  const std::string whole = std::string("whole.") + c.file, cut = std::string("cut.") + c.file;
  ASSERT_EQ(
      Shell(dir, std::string("ffmpeg -v error -i burned.y4m -c:v libx264 -crf 20 ") + c.encode + " " + whole).status,
      0);
  const std::vector<FilePacket> packets = PacketsOf(dir, whole);
  ASSERT_EQ(packets.size(), 30u);
  const std::vector<std::string> want = FfmpegFrames(dir, whole, "yuv420p", 320 * 240 * 3 / 2);
  ASSERT_EQ(want.size(), 30u);
  std::vector<double> shown;
  for (const FilePacket& p : packets) shown.push_back(p.time);
  std::sort(shown.begin(), shown.end());
  const std::string bytes = ReadFile(dir.Path(whole));

  int holes = 0;
  for (const size_t k : {6u, 11u, 15u, 22u, 27u}) {
    SCOPED_TRACE("cut through packet " + std::to_string(k));
    // The frames whole: those shown before the first frame whose packet is
    // not among the k before the cut.
    std::vector<bool> held(30, false);
    for (size_t i = 0; i < k; ++i)
      held[static_cast<size_t>(std::find(shown.begin(), shown.end(), packets[i].time) - shown.begin())] = true;
    const int frames = static_cast<int>(std::find(held.begin(), held.end(), false) - held.begin());
    if (frames < static_cast<int>(k)) ++holes;
    int64_t at = packets[k].pos + packets[k].size / 2;
    // A transport stream cut between its packets does not say so.
    if (at % 188 == 0) ++at;
    WriteFile(dir.Path(cut), bytes.substr(0, static_cast<size_t>(at)));

    const std::string line = "tallyburn: " + cut + ": the file is cut short after frame " + std::to_string(frames - 1) +
                             " (" + std::to_string(frames) + " whole frames)\n";
    for (const std::string fps : {"", ", fps_num=24, fps_den=1"}) {
      SCOPED_TRACE("MediaSource(cut" + fps + ")");
      const std::string script = "MediaSource(\"" + cut + "\"" + fps + ")";
      const RunResult piped = Shell(dir, Quote(TALLYBURN_TOOL_PATH) + " '" + script + "' -o - > piped.y4m");
      EXPECT_EQ(piped.status, 1);
      EXPECT_EQ(piped.err, line);
      const std::vector<std::string> got = FfmpegFrames(dir, "piped.y4m", "yuv420p", 320 * 240 * 3 / 2);
      ASSERT_EQ(got.size(), static_cast<size_t>(frames));
      for (int n = 0; n < frames; ++n) EXPECT_TRUE(got[static_cast<size_t>(n)] == want[static_cast<size_t>(n)]) << n;
      std::vector<int> numbers(static_cast<size_t>(frames));
      std::iota(numbers.begin(), numbers.end(), 0);
      EXPECT_EQ(NumbersOf(dir, "piped.y4m"), numbers);
      const RunResult info = RunTool(dir, {"--info", script});
      EXPECT_NE(info.out.find("frames      " + std::to_string(frames) + "\n"), std::string::npos) << info.out;

      // Read in this process, backwards and in a shuffled order.
      const PClip clip = Clip("MediaSource(\"" + dir.Path(cut) + "\"" + fps + ")");
      const VideoInfo vi = clip->GetVideoInfo();
      ASSERT_EQ(vi.num_frames, frames);
      const PixelFormat f = *DescribePixelType(vi.pixel_type);
      std::vector<int> order(numbers.rbegin(), numbers.rend());
      std::vector<int> shuffled = numbers;
      std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(static_cast<unsigned>(k)));
      order.insert(order.end(), shuffled.begin(), shuffled.end());
      for (const int n : order)
        EXPECT_TRUE(RawBytes(env, env.FetchFrame(clip, n), f, 320, 240) == want[static_cast<size_t>(n)]) << n;
    }
    // verify reads as many.
    const RunResult v = RunTool(dir, {"verify", cut, "--json", "report.json"});
    EXPECT_EQ(v.status, 1) << v.err;
    const auto report = nlohmann::json::parse(ReadFile(dir.Path("report.json")));
    EXPECT_TRUE(report["cut"].get<bool>());
    EXPECT_EQ(report["frames"]["read"].get<int>(), frames);
  }
  // The cuts went where B-frames leave holes.
  EXPECT_GE(holes, 3);
}

INSTANTIATE_TEST_SUITE_P(Files, MediaBframeCutTest,
                         ::testing::Values(BframeCutCase{"mkv", "mkv", "-bf 3 -g 12"},
                                           BframeCutCase{"ts", "ts", "-bf 3 -g 12"},
                                           BframeCutCase{"mp4_faststart", "mp4", "-bf 3 -g 12 -movflags +faststart"},
                                           // Open GOPs, a pyramid of B-frames referred to by others.
                                           BframeCutCase{"ts_open_gop_pyramid", "ts",
                                                         "-bf 5 -x264-params open-gop=1:keyint=10:b-pyramid=strict"}),
                         [](const ::testing::TestParamInfo<BframeCutCase>& p) { return std::string(p.param.name); });

// An MP4 whose sample table is at its end has none when cut: refused.
TEST(MediaCutMp4Test, CutBeforeItsSampleTableIsRefusedInOneLine) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  ASSERT_EQ(Shell(dir, std::string("ffmpeg -v error ") + kPicture + " -c:v libx264 -bf 3 -g 6 whole.mp4").status, 0);
  const std::string bytes = ReadFile(dir.Path("whole.mp4"));
  WriteFile(dir.Path("cut.mp4"), bytes.substr(0, bytes.size() / 2));
  const RunResult r = RunTool(dir, {"MediaSource(\"cut.mp4\")", "-o", "out.y4m"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tallyburn: script column 1: MediaSource: cut.mp4: the MP4/MOV file has no index (moov atom): it was not "
            "finished, as when a recording stops before its file is closed\n");
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST_F(MediaHost, UnevenFramesAreRefusedUnlessARateNumbersThem) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  // Ten frames at 25 fps, then ten at 50.
  const std::string file = dir.Path("vfr.mkv");
  ASSERT_EQ(Shell(dir, std::string("ffmpeg -v error ") + kPicture +
                           " -vf \"setpts='if(lt(N,10),N/25,0.4+(N-10)/50)/TB'\" -enc_time_base 1:1000"
                           " -fps_mode passthrough -c:v libx264 -bf 2 " +
                           Quote(file))
                .status,
            0);
  const std::string error = ErrorOf("MediaSource(\"" + file + "\")");
  EXPECT_EQ(error.rfind("script column 1: MediaSource: " + file + ": its frames are not evenly spaced", 0), 0u)
      << error;
  EXPECT_NE(error.find("fps_num and fps_den"), std::string::npos) << error;

  const PClip clip = Clip("MediaSource(\"" + file + "\", fps_num=30000, fps_den=1001)");
  const VideoInfo vi = clip->GetVideoInfo();
  EXPECT_EQ(vi.fps_numerator, 30000u);
  EXPECT_EQ(vi.fps_denominator, 1001u);
  const std::vector<std::string> want = FfmpegFrames(dir, file, "yuv420p", 96 * 64 * 3 / 2);
  ASSERT_EQ(vi.num_frames, 20);
  ASSERT_EQ(want.size(), 20u);
  const PixelFormat f = *DescribePixelType(vi.pixel_type);
  for (const int n : {19, 3, 12, 11, 0, 10})
    EXPECT_TRUE(RawBytes(env, env.FetchFrame(clip, n), f, 96, 64) == want[static_cast<size_t>(n)]) << n;
}

// Cut or not, frames truly unevenly spaced are refused; fps_num numbers a
// cut file's whole frames.
TEST_F(MediaHost, CutUnevenFramesAreRefusedUnlessARateNumbersTheWholeOnes) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  // Ten frames at 25 fps, then ten at 50, cut through the 17th packet.
  ASSERT_EQ(Shell(dir, std::string("ffmpeg -v error ") + kPicture +
                           " -vf \"setpts='if(lt(N,10),N/25,0.4+(N-10)/50)/TB'\" -enc_time_base 1:1000"
                           " -fps_mode passthrough -c:v libx264 -bf 2 vfr.mkv")
                .status,
            0);
  const std::vector<FilePacket> packets = PacketsOf(dir, "vfr.mkv");
  ASSERT_EQ(packets.size(), 20u);
  const std::vector<std::string> want = FfmpegFrames(dir, "vfr.mkv", "yuv420p", 96 * 64 * 3 / 2);
  ASSERT_EQ(want.size(), 20u);
  const std::string file = dir.Path("cut.mkv");
  WriteFile(file, ReadFile(dir.Path("vfr.mkv")).substr(0, static_cast<size_t>(packets[16].pos + packets[16].size / 2)));

  const std::string error = ErrorOf("MediaSource(\"" + file + "\")");
  EXPECT_EQ(error.rfind("script column 1: MediaSource: " + file + ": its frames are not evenly spaced", 0), 0u)
      << error;
  const PClip clip = Clip("MediaSource(\"" + file + "\", fps_num=30000, fps_den=1001)");
  const VideoInfo vi = clip->GetVideoInfo();
  EXPECT_GT(vi.num_frames, 10);
  EXPECT_LT(vi.num_frames, 17);
  const RunResult r = RunTool(dir, {"MediaSource(\"cut.mkv\", fps_num=30000, fps_den=1001)", "-o", "out.y4m"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tallyburn: cut.mkv: the file is cut short after frame " + std::to_string(vi.num_frames - 1) + " (" +
                       std::to_string(vi.num_frames) + " whole frames)\n");
  const PixelFormat f = *DescribePixelType(vi.pixel_type);
  for (int n = vi.num_frames - 1; n >= 0; --n)
    EXPECT_TRUE(RawBytes(env, env.FetchFrame(clip, n), f, 96, 64) == want[static_cast<size_t>(n)]) << n;
}

TEST_F(MediaHost, ErrorsNameTheFile) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  ASSERT_EQ(Shell(dir, "ffmpeg -v error -f lavfi -i sine -t 0.5 sound.wav").status, 0);
  // Two video tracks of different sizes.
  ASSERT_EQ(Shell(dir,
                  "ffmpeg -v error -f lavfi -i testsrc2=size=96x64:rate=25 -f lavfi -i testsrc2=size=64x48:rate=25 "
                  "-map 0 -map 1 -frames:v 10 -c:v ffv1 two.mkv")
                .status,
            0);
  const std::string sound = dir.Path("sound.wav"), two = dir.Path("two.mkv"), none = dir.Path("none.mp4");
  EXPECT_EQ(ErrorOf("MediaSource(\"" + none + "\")"), "script column 1: MediaSource: " + none + ": no such file");
  EXPECT_EQ(ErrorOf("MediaSource(\"" + sound + "\")"), "script column 1: MediaSource: " + sound + ": no video track");
  EXPECT_EQ(ErrorOf("MediaSource(\"/dev/null\")"),
            "script column 1: MediaSource: /dev/null: is not a file (MediaSource reads files; a YUV4MPEG2 pipe is "
            "Y4MSource(\"-\")'s)");
  EXPECT_EQ(ErrorOf("MediaSource(\"" + two + "\", track=2)"),
            "script column 1: MediaSource: " + two + ": no video track 2 (it has 2, 0 to 1)");
  EXPECT_EQ(ErrorOf("MediaSource(\"" + two + "\", track=-1)"),
            "script column 1: MediaSource: track must not be negative");
  EXPECT_EQ(ErrorOf("MediaSource(\"" + two + "\", fps_num=25)"),
            "script column 1: MediaSource: give fps_num and fps_den together, both positive (30000 and 1001 for "
            "29.97)");
  EXPECT_EQ(Clip("MediaSource(\"" + two + "\")")->GetVideoInfo().width, 96);
  EXPECT_EQ(Clip("MediaSource(\"" + two + "\", track=1)")->GetVideoInfo().width, 64);
  // Two MediaSources: neither is the one whose sound an output keeps.
  EXPECT_FALSE(context.MediaToKeep());
}

TEST_F(MediaHost, TheOneMediaSourceIsTheOneToKeep) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  ASSERT_EQ(Shell(dir,
                  "ffmpeg -v error -f lavfi -i sine -f lavfi -i testsrc2=size=96x64:rate=25 -map 0 -map 1 "
                  "-t 1 -c:v ffv1 -c:a pcm_s16le both.mov")
                .status,
            0);
  Clip("MediaSource(\"" + dir.Path("both.mov") + "\")");
  const auto keep = context.MediaToKeep();
  ASSERT_TRUE(keep);
  EXPECT_EQ(keep->path, dir.Path("both.mov"));
  EXPECT_EQ(keep->stream_index, 1);  // the sound is stream 0
  EXPECT_EQ(keep->track, 0);
  Clip("MediaSource(\"" + dir.Path("both.mov") + "\")");
  EXPECT_FALSE(context.MediaToKeep());
}

TEST(MediaCliTest, FramesRangeAndOutputSafetyAndInfo) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  ASSERT_EQ(Shell(dir, std::string("ffmpeg -v error ") + kPicture + " -c:v libx264 -bf 3 -g 6 in.mp4").status, 0);
  const RunResult r = RunTool(dir, {"MediaSource(\"in.mp4\")", "--frames", "13-17", "-o", "part.y4m"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> got = FfmpegFrames(dir, "part.y4m", "yuv420p", 96 * 64 * 3 / 2);
  const std::vector<std::string> want = FfmpegFrames(dir, "in.mp4", "yuv420p", 96 * 64 * 3 / 2);
  ASSERT_EQ(got.size(), 5u);
  for (int n = 0; n < 5; ++n) EXPECT_TRUE(got[static_cast<size_t>(n)] == want[static_cast<size_t>(13 + n)]) << n;
  // The file read is not overwritten.
  const RunResult same = RunTool(dir, {"MediaSource(\"in.mp4\")", "--raw", "-o", "in.mp4"});
  EXPECT_EQ(same.status, 1);
  EXPECT_NE(same.err.find("is also an input of the script"), std::string::npos) << same.err;
  const RunResult info = RunTool(dir, {"--info", "MediaSource(\"in.mp4\")"});
  EXPECT_EQ(info.out,
            "width       96\nheight      64\nframe rate  25/1 (25.000 fps)\nframes      20\npixel type  YV12\n"
            "input       MediaSource in.mp4: QuickTime / MOV, h264 yuv420p, as decoded, YV12\n");
}

TEST(MediaVerifyTest, ReadsAnEncodedFileAndGivesEachFramesTime) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  ASSERT_EQ(
      RunTool(dir, {"ColorBars(640, 360, length=30, fps=30000, fps_denominator=1001).TallyId()", "-o", "burned.y4m"})
          .status,
      0);
  // Frame 7 dropped, through B-frames, in MP4.
  ASSERT_EQ(Shell(dir,
                  "ffmpeg -v error -i burned.y4m -vf \"select='not(eq(n,7))'\" -fps_mode passthrough "
                  "-c:v libx264 -crf 30 -bf 3 out.mp4")
                .status,
            0);
  const RunResult r = RunTool(dir, {"verify", "out.mp4", "--json", "report.json", "--expect", "0-29"});
  EXPECT_EQ(r.status, 1) << r.err;
  const auto report = nlohmann::json::parse(ReadFile(dir.Path("report.json")));
  EXPECT_EQ(report["dropped"], nlohmann::json::parse("[[7, 7]]"));
  ASSERT_EQ(report["numbers"].size(), 29u);
  ASSERT_EQ(report["times"].size(), 29u);
  // The times are the file's: frame 7's gap stays in them.
  const auto probe = Shell(dir, "ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 out.mp4");
  ASSERT_EQ(probe.status, 0) << probe.err;
  std::vector<double> want;
  for (size_t at = 0; at < probe.out.size();) {
    const size_t end = probe.out.find('\n', at);
    if (end > at) want.push_back(std::atof(probe.out.substr(at, end - at).c_str()));
    at = end == std::string::npos ? probe.out.size() : end + 1;
  }
  ASSERT_EQ(want.size(), 29u);
  for (size_t i = 0; i < 29; ++i) EXPECT_NEAR(report["times"][i].get<double>(), want[i], 1e-6) << i;
  EXPECT_NEAR(report["times"][7].get<double>() - report["times"][6].get<double>(), 2 * 1001.0 / 30000, 1e-6);
}

TEST(MediaVerifyTest, ReadsTheCodeInEveryFamilyOfFormat) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  TempDir dir;
  ASSERT_EQ(RunTool(dir, {"ColorBars(640, 360, length=6, fps=25).TallyId()", "-o", "burned.y4m"}).status, 0);
  const struct {
    const char* file;
    const char* encode;
    const char* host;  // what MediaSource makes of it
  } cases[] = {
      {"packed.mkv", "-c:v ffv1 -pix_fmt bgr0", "RGB24"}, {"alpha.nut", "-c:v rawvideo -pix_fmt bgra", "RGB32"},
      {"planar.mkv", "-c:v libx264rgb -crf 0", "RGBP8"},  {"deep.mov", "-c:v prores_ks -profile:v 3", "YUV422P10"},
      {"grey.mkv", "-c:v ffv1 -pix_fmt gray16le", "Y16"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_EQ(Shell(dir, std::string("ffmpeg -v error -i burned.y4m ") + c.encode + " " + c.file).status, 0);
    const RunResult info = RunTool(dir, {"--info", "MediaSource(\"" + std::string(c.file) + "\")"});
    EXPECT_NE(info.out.find(std::string("pixel type  ") + c.host + "\n"), std::string::npos) << info.out;
    const RunResult r = RunTool(dir, {"verify", c.file, "--expect", "0-5"});
    EXPECT_EQ(r.status, 0) << r.err;
  }
}

}  // namespace
}  // namespace tallyburn::testing
