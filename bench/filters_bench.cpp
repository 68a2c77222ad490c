// GetFrame of each filter per pixel type and size, on an exclusive frame
// (drawn in place) and on a shared one (the host copies it first), each
// beside its limit measured in the same run: memset of the bytes the filter
// changes, in the same rows, and memcpy of the whole frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "avisynth.h"
#include "core/pixel_format.h"
#include "draw/text_box.h"
#include "frameserver/environment.h"
#include "slot_planes.h"

namespace tallyburn {
namespace {

using frameserver::Argument;

struct Format {
  const char* name;
  int type;
  int bpp;
  bool planar;
};
constexpr Format kFormats[] = {{"RGB24", VideoInfo::CS_BGR24, 3, false},
                               {"RGB32", VideoInfo::CS_BGR32, 4, false},
                               {"YUY2", VideoInfo::CS_YUY2, 2, false},
                               {"YV12", VideoInfo::CS_YV12, 1, true}};
constexpr int kSizes[][2] = {{640, 480}, {1920, 1080}};

// Hands out one frame over and over. Exclusive: it keeps no reference, and
// re-arms the buffer's count when the last user let go, so the frame comes
// back writable and MakeWritable copies nothing. Shared: it keeps a
// reference, and every consumer's MakeWritable copies.
class ReplayClip final : public IClip {
 public:
  ReplayClip(frameserver::Environment& env, const VideoInfo& vi, bool shared) : vi_(vi), shared_(shared) {
    held_ = env.NewVideoFrame(vi);
    frame_ = held_.get();
    std::memset(frame_->vfb->data, 90, static_cast<size_t>(frame_->vfb->data_size));
    if (!shared_) held_ = nullptr;
  }
  PVideoFrame __stdcall GetFrame(int, IScriptEnvironment*) override {
    if (!shared_ && frame_->refcount == 0) frame_->vfb->refcount = 1;
    return PVideoFrame(frame_);
  }
  bool __stdcall GetParity(int) override { return false; }
  void __stdcall GetAudio(void*, int64, int64, IScriptEnvironment*) override {}
  int __stdcall SetCacheHints(int, int) override { return 0; }
  const VideoInfo& __stdcall GetVideoInfo() override { return vi_; }

 private:
  VideoInfo vi_;
  bool shared_;
  PVideoFrame held_;
  VideoFrame* frame_;
};

frameserver::Environment& Env() {
  static frameserver::Environment* env = [] {
    auto* e = new frameserver::Environment;
    e->LoadPlugin(TALLYBURN_PLUGIN_PATH);
    return e;
  }();
  return *env;
}

VideoInfo Video(const Format& f, int w, int h) {
  VideoInfo vi{};
  vi.width = w;
  vi.height = h;
  vi.pixel_type = f.type;
  vi.fps_numerator = 25;
  vi.fps_denominator = 1;
  vi.num_frames = 1000;
  return vi;
}

// Bytes each filter writes per frame, as (row bytes, rows) runs.
struct Footprint {
  int luma_row, luma_rows, chroma_row, chroma_rows;
  int Bytes() const { return luma_row * luma_rows + 2 * chroma_row * chroma_rows; }
};
Footprint FootprintOf(bool timecode, const Format& f) {
  const int width = timecode ? 92 : 40;  // Tallyburn: 4 digits for 1000 frames
  return {width * f.bpp, 14, f.planar ? width / 2 : 0, f.planar ? 7 : 0};
}

void BM_Filter(benchmark::State& state, bool timecode, Format f, int w, int h, bool shared) {
  frameserver::Environment& env = Env();
  const PClip src = new ReplayClip(env, Video(f, w, h), shared);
  const PClip filter = env.Call(timecode ? "FrameTC" : "Tallyburn", {{"", src}}).AsClip();
  int n = 0;
  for (auto _ : state) {
    PVideoFrame out = filter->GetFrame(n++ % 1000, &env);
    benchmark::DoNotOptimize(out->GetReadPtr());
  }
  state.SetBytesProcessed(state.iterations() * FootprintOf(timecode, f).Bytes());
}

void BM_MemsetLimit(benchmark::State& state, bool timecode, Format f, int w, int h) {
  frameserver::Environment& env = Env();
  const PVideoFrame frame = env.NewVideoFrame(Video(f, w, h));
  const Footprint fp = FootprintOf(timecode, f);
  uint8_t* y = frame->GetWritePtr();
  uint8_t* u = frame->GetWritePtr(PLANAR_U);
  uint8_t* v = frame->GetWritePtr(PLANAR_V);
  for (auto _ : state) {
    for (int r = 0; r < fp.luma_rows; ++r) std::memset(y + (h - 14 + r) * frame->GetPitch(), r, fp.luma_row);
    for (int r = 0; r < fp.chroma_rows; ++r) {
      std::memset(u + (h / 2 - 7 + r) * frame->GetPitch(PLANAR_U), 128, fp.chroma_row);
      std::memset(v + (h / 2 - 7 + r) * frame->GetPitch(PLANAR_V), 128, fp.chroma_row);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * fp.Bytes());
}

void BM_MemcpyLimit(benchmark::State& state, Format f, int w, int h) {
  const size_t bytes = static_cast<size_t>(w) * h * f.bpp * (f.planar ? 3 : 2) / 2;
  std::vector<uint8_t> a(bytes, 1), b(bytes);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

// The current filters: one format of each family, at scale 1 and at the
// automatic scale, on an exclusive frame; the limit is memset of the box's
// bytes in every plane it covers, in the same lines.
constexpr const char* kCurrentFormats[] = {"YV12", "YUV422P10", "YUV444PS", "Y16", "YUY2", "RGB32", "RGB48", "RGBP16"};
constexpr int kCurrentSizes[][2] = {{1920, 1080}, {3840, 2160}};

struct CurrentCase {
  const char* function;
  PixelFormat format;
  int width, height;
  int scale;  // 0: automatic
};

std::vector<Argument> CurrentArgs(const CurrentCase& c, const PClip& src) { return {{"", src}, {"scale", c.scale}}; }

BoxGeometry CurrentBox(const CurrentCase& c) {
  // TallyTC: 11 characters; TallyFrame: 4 for 1000 frames.
  const int cells = std::string(c.function) == "TallyTC" ? 11 : 4;
  const int scale = c.scale > 0 ? c.scale : AutoScale(c.height);
  BoxGeometry box{};
  PlaceBox(c.format, c.width, c.height, cells, scale, std::string(c.function) == "TallyTC" ? 2 : 3, 0, &box);
  return box;
}

VideoInfo CurrentVideo(const CurrentCase& c) {
  VideoInfo vi{};
  vi.width = c.width;
  vi.height = c.height;
  vi.pixel_type = c.format.pixel_type;
  vi.fps_numerator = 25;
  vi.fps_denominator = 1;
  vi.num_frames = 1000;
  return vi;
}

void BM_Current(benchmark::State& state, CurrentCase c) {
  frameserver::Environment& env = Env();
  const PClip src = new ReplayClip(env, CurrentVideo(c), false);
  const PClip filter = env.Call(c.function, CurrentArgs(c, src)).AsClip();
  int n = 0;
  for (auto _ : state) {
    PVideoFrame out = filter->GetFrame(n++ % 1000, &env);
    benchmark::DoNotOptimize(out->GetReadPtr());
  }
}

void BM_CurrentMemsetLimit(benchmark::State& state, CurrentCase c) {
  frameserver::Environment& env = Env();
  const PVideoFrame frame = env.NewVideoFrame(CurrentVideo(c));
  const BoxGeometry b = CurrentBox(c);
  const PixelFormat& f = c.format;
  struct Run {
    uint8_t* at;
    int pitch, rows;
    size_t bytes;
  };
  std::vector<Run> runs;
  const size_t pixel = static_cast<size_t>(f.bytes_per_sample) * f.channels;
  for (int k = 0; k < SlotPlanes(f); ++k) {
    const int plane = kSlotPlaneIds[k];
    const bool chroma = k > 0 && f.family == Family::kPlanarYuv;
    const int lw = chroma ? f.log2_chroma_w : 0, lh = chroma ? f.log2_chroma_h : 0;
    const int top = f.bottom_up() ? c.height - b.y1 : b.y0;
    runs.push_back({frame->GetWritePtr(plane) + static_cast<ptrdiff_t>(top >> lh) * frame->GetPitch(plane) +
                        static_cast<ptrdiff_t>(b.x0 >> lw) * static_cast<ptrdiff_t>(pixel),
                    frame->GetPitch(plane), (b.y1 - b.y0) >> lh, static_cast<size_t>((b.x1 - b.x0) >> lw) * pixel});
  }
  for (auto _ : state) {
    for (const Run& r : runs)
      for (int y = 0; y < r.rows; ++y) std::memset(r.at + static_cast<ptrdiff_t>(y) * r.pitch, y, r.bytes);
    benchmark::ClobberMemory();
  }
}

// Names: filter/<name>/<format>/<size>/<exclusive|shared>, limit/memset/...
std::string Case(const char* what, const Format& f, int w, int h) {
  return std::string(what) + "/" + f.name + "/" + std::to_string(w) + "x" + std::to_string(h);
}

void Register() {
  for (const Format& f : kFormats)
    for (const auto& s : kSizes) {
      const int w = s[0], h = s[1];
      for (const bool timecode : {false, true}) {
        const char* name = timecode ? "FrameTC" : "Tallyburn";
        benchmark::RegisterBenchmark(("filter/" + Case(name, f, w, h) + "/exclusive").c_str(), BM_Filter, timecode, f,
                                     w, h, false);
        benchmark::RegisterBenchmark(("limit/memset/" + Case(name, f, w, h)).c_str(), BM_MemsetLimit, timecode, f, w,
                                     h);
        benchmark::RegisterBenchmark(("filter/" + Case(name, f, w, h) + "/shared").c_str(), BM_Filter, timecode, f, w,
                                     h, true);
      }
      benchmark::RegisterBenchmark(("limit/memcpy/" + Case("frame", f, w, h)).c_str(), BM_MemcpyLimit, f, w, h);
    }
  for (const char* name : kCurrentFormats)
    for (const auto& s : kCurrentSizes)
      for (const char* function : {"TallyTC", "TallyFrame"})
        for (const int scale : {1, 0}) {
          int count = 0;
          const PixelFormat* all = AllPixelFormats(&count);
          const PixelFormat* f =
              std::find_if(all, all + count, [&](const PixelFormat& p) { return std::string(p.name) == name; });
          const CurrentCase c{function, *f, s[0], s[1], scale};
          const std::string core = std::string(function) + "/" + name + "/" + std::to_string(s[0]) + "x" +
                                   std::to_string(s[1]) + "/" + (scale == 1 ? "scale1" : "auto");
          benchmark::RegisterBenchmark(("filter/" + core).c_str(), BM_Current, c);
          benchmark::RegisterBenchmark(("limit/memset/" + core).c_str(), BM_CurrentMemsetLimit, c);
        }
}

// Prints the usual table, then each filter case's time over its limit.
class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-40s %12s %12s %8s\n", "case", "filter ns", "limit ns", "ratio");
    for (const auto& [name, t] : times_) {
      if (name.rfind("filter/", 0) != 0) continue;
      // filter/<F>/<fmt>/<size>/<mode>
      const size_t mode_at = name.rfind('/');
      const std::string mode = name.substr(mode_at + 1);
      std::string core = name.substr(7, mode_at - 7);
      const size_t size_at = core.rfind('/'), fmt_at = core.rfind('/', size_at - 1);
      const std::string limit = mode == "exclusive" ? "limit/memset/" + core
                                : mode == "shared"  ? "limit/memcpy/frame/" + core.substr(fmt_at + 1)
                                                    : "limit/memset/" + core.append("/").append(mode);
      const auto it = times_.find(limit);
      if (it == times_.end()) continue;
      const std::string label = name.substr(7);
      std::printf("%-40s %12.1f %12.1f %7.2fx  (%s)\n", label.c_str(), t, it->second, t / it->second,
                  mode == "shared" ? "vs memcpy of the frame" : "vs memset of the changed bytes");
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace
}  // namespace tallyburn

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  tallyburn::Register();
  tallyburn::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
