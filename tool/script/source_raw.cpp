// RawSource(path, width, height, pixel_type, fps, fps_denominator, length):
// raw frames as ffmpeg's rawvideo writes them, lines top-down, planes in
// slot order.
#include <climits>

#include "core/pixel_format.h"
#include "tool/media/raw_formats.h"
#include "tool/script/source_stream.h"
#include "tool/script/source_support.h"

namespace tallyburn::tool {
namespace {

class RawClip final : public StreamClip {
 public:
  using StreamClip::StreamClip;

 private:
  bool Begins(int) override { return in_->Peek() >= 0; }
  void ReadBody(int n, VideoFrame& frame) override {
    ReadRawPlanes(*in_, *DescribePixelType(vi_.pixel_type), vi_.width, vi_.height, n, frame);
  }
};

enum RawArg { kRawPath, kRawWidth, kRawHeight, kRawPixelType, kRawFps, kRawFpsDen, kRawLength };

AVSValue __cdecl CreateRawSource(AVSValue args, void* user_data, IScriptEnvironment* env) {
  const int type = PixelTypeByName(env, "RawSource", args[kRawPixelType].AsString("YV12"), false);
  VideoInfo vi = CheckedVideo(env, "RawSource", args[kRawWidth].AsInt(), args[kRawHeight].AsInt(), type);
  SetRate(env, "RawSource", vi, args[kRawFps], args[kRawFpsDen]);
  try {
    auto in = InputStream::Open(args[kRawPath].AsString(""));
    const auto frame_bytes = static_cast<int64_t>(RawFrameBytes(*DescribePixelType(type), vi.width, vi.height));
    bool cut = false;
    const Length length = SetLength(env, "RawSource", args[kRawLength], *in, vi, &cut, [&](bool* c) {
      *c = in->size() % frame_bytes != 0;
      return static_cast<int>(std::min<int64_t>(INT_MAX, in->size() / frame_bytes));
    });
    return new RawClip(ContextOf(user_data), vi, std::move(in), length, cut);
  } catch (const ToolError& e) {
    Refuse(env, std::string("RawSource: ") + e.what());
  }
}

}  // namespace

void RegisterRawSource(frameserver::Environment& env, ToolContext& context) {
  env.AddFunction("RawSource", "sii[pixel_type]s[fps]f[fps_denominator]i[length]i", CreateRawSource, &context);
}

}  // namespace tallyburn::tool
