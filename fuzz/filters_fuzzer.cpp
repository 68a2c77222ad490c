// All four filters over configurations picked from the fuzzer's bytes:
// constructed through the plug-in's factories, and for every accepted one a
// frame drawn into planes that end at their last byte (guard bytes after
// them, and AddressSanitizer after the last), in every pixel format. A
// refusal must be one of the classic filters' own messages, or for the
// current ones begin with the function's name; a write outside the picture
// aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/pixel_format.h"
#include "frameserver/environment.h"
#include "tests/support/synthetic_clip.h"

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

// A pixel type: mostly one we draw, now and then one we do not know.
int PixelType(Bytes& in) {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  const uint8_t pick = in.Byte();
  return pick < 250 ? all[pick % count].pixel_type : static_cast<int>(0xA0030008u);  // a depth code no host uses
}

// Text arguments: mostly well-formed, sometimes any bytes.
std::string Text(Bytes& in, const char* const* choices, size_t count) {
  const uint8_t pick = in.Byte();
  if (pick < 200) return choices[pick % count];
  std::string s;
  for (uint8_t n = in.Byte() % 16; n > 0; --n) s += static_cast<char>(in.Byte());
  return s;
}
constexpr const char* kStarts[] = {"00:00:00:00", "00:00:59;28",  "23:59:59:29", "00:01:00;00",
                                   "10:00:00:00", "00:00:00:099", "99:99:99:99", "01:00:00;04"};
constexpr const char* kRateTexts[] = {"",   "29.97", "30000/1001", "25",     "59.94", "119.88",
                                      "12", "0",     "1/0",        "23.976", "48"};
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
  frameserver::SourceParams params;
  params.pixel_type = PixelType(in);
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
  static constexpr const char* kFunctions[] = {"Tallyburn", "FrameTC", "TallyTC", "TallyFrame"};
  const std::string function = kFunctions[in.Byte() % std::size(kFunctions)];
  const int offset = in.Int(), left = in.Int(), orientation = in.Around(6), y = in.Around(320), n = in.Int();
  const std::string start = Text(in, kStarts, std::size(kStarts));
  const std::string rate_text = Text(in, kRateTexts, std::size(kRateTexts));
  const uint8_t drop = in.Byte() % 3;
  const int scale = in.Around(10), align = in.Around(12), margin = in.Around(300), digits = in.Around(14);

  frameserver::Environment env(frameserver::FrameLayout{.tight = true});
  env.LoadPlugin(TALLYBURN_PLUGIN_PATH);
  const PClip source = new frameserver::SyntheticClip(env, params);
  std::vector<frameserver::Argument> args = {{"", source}};
  if (function == "Tallyburn") {
    args.insert(args.end(), {{"", offset}, {"", left}});
  } else if (function == "FrameTC") {
    args.insert(args.end(), {{"", offset}, {"", orientation}, {"", y}});
  } else if (function == "TallyTC") {
    args.insert(args.end(), {{"start", start.c_str()},
                             {"rate", rate_text.c_str()},
                             {"scale", scale},
                             {"align", align},
                             {"margin", margin}});
    if (drop < 2) args.push_back({"drop", drop == 1});
  } else {
    args.insert(args.end(),
                {{"start", offset}, {"digits", digits}, {"scale", scale}, {"align", align}, {"margin", margin}});
  }
  PClip filter;
  try {
    filter = env.Call(function, args).AsClip();
  } catch (const frameserver::HostError& e) {
    const std::string message = e.what();
    const bool current = function == "TallyTC" || function == "TallyFrame";
    if (current ? message.rfind(function + ": ", 0) != 0 : kMessages.count(message) == 0) {
      std::fprintf(stderr, "unexpected refusal: %s\n", e.what());
      std::abort();
    }
    return 0;
  }
  // Accepted sizes are at least 10x14, so the frame can be allocated; a
  // pixel type no host uses has no frames (the filters pass it through).
  // A million pixels at most: a float 4:4:4 frame with alpha is 16 bytes a
  // pixel, and the sanitizer keeps freed frames a while.
  if (int64_t{params.width} * params.height > (1 << 20) || !DescribePixelType(params.pixel_type)) return 0;
  try {
    env.FetchFrame(filter, n);
  } catch (const frameserver::GuardError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    std::abort();
  }
  return 0;
}
