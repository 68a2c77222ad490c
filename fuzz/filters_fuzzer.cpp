// Both filters over configurations picked from the fuzzer's bytes:
// constructed through the plug-in's factories, and for every accepted one a
// frame drawn into planes that end at their last byte (guard bytes after
// them, and AddressSanitizer after the last). A refusal must be one of the
// filters' own messages; a write outside the picture aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "host/environment.h"
#include "host/synthetic_clip.h"

using namespace tallyburn;

namespace {

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return v;
  }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  int Int() { return static_cast<int>(U32()); }
  // Small values most of the time, anything now and then.
  int Around(int span) {
    const uint8_t mode = Byte();
    return mode < 200 ? static_cast<int>(U32() % static_cast<uint32_t>(span)) - 8 : Int();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

constexpr int kPixelTypes[] = {VideoInfo::CS_BGR24,          VideoInfo::CS_BGR32, VideoInfo::CS_YUY2,
                               VideoInfo::CS_YV12,           VideoInfo::CS_I420,  static_cast<int>(0xA0000308u),
                               static_cast<int>(0x50010002u)};
constexpr unsigned kRates[][2] = {{24, 1}, {25, 1},     {30, 1},         {24000, 1001}, {30000, 1001},
                                  {0, 1},  {0, 0},      {1, 0},          {23975, 1000}, {29971, 1000},
                                  {60, 1}, {2997, 100}, {4294967295u, 1}};

const std::set<std::string> kMessages = {
    "Tallyburn: video is too small",
    "FrameTC: video is too small",
    "FrameTC: y value is invalid",
    "FrameTC: Orientation value must be 0 (right), 1 (left) or 2 (center)",
    "FrameTC: fps of the video must be 23.976, 24, 25, 29.97 or 30",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in(data, size);
  host::SourceParams params;
  params.pixel_type = kPixelTypes[in.Byte() % std::size(kPixelTypes)];
  params.width = in.Around(400);
  params.height = in.Around(300);
  const uint8_t rate = in.Byte();
  if (rate < 16 * std::size(kRates)) {
    params.fps_numerator = kRates[rate % std::size(kRates)][0];
    params.fps_denominator = kRates[rate % std::size(kRates)][1];
  } else {
    params.fps_numerator = in.U32();
    params.fps_denominator = in.U32();
  }
  params.num_frames = in.Int();
  params.audio_rate = 0;
  const bool timecode = in.Byte() & 1;
  const int offset = in.Int(), left = in.Int(), orientation = in.Around(6), y = in.Around(320), n = in.Int();

  host::Environment env(host::FrameLayout{.tight = true});
  env.LoadPlugin(TALLYBURN_PLUGIN_PATH);
  const PClip source = new host::SyntheticClip(env, params);
  PClip filter;
  try {
    if (timecode)
      filter = env.Call("FrameTC", {{"", source}, {"", offset}, {"", orientation}, {"", y}}).AsClip();
    else
      filter = env.Call("Tallyburn", {{"", source}, {"", offset}, {"", left}}).AsClip();
  } catch (const host::HostError& e) {
    if (kMessages.count(e.what()) == 0) {
      std::fprintf(stderr, "unexpected refusal: %s\n", e.what());
      std::abort();
    }
    return 0;
  }
  // Accepted sizes are at least 10x14, so the frame can be allocated.
  if (params.width > 4096 || params.height > 4096) return 0;
  try {
    env.FetchFrame(filter, n);
  } catch (const host::GuardError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    std::abort();
  }
  return 0;
}
