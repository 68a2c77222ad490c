// Y4MSource(path, length): YUV4MPEG2 from a file or standard input.
#include <climits>

#include "tool/media/y4m.h"
#include "tool/script/source_stream.h"
#include "tool/script/source_support.h"

namespace tallyburn::tool {
namespace {

class Y4mClip final : public StreamClip {
 public:
  Y4mClip(ToolContext& context, const VideoInfo& vi, std::unique_ptr<InputStream> in, const Y4mHeader& h, Length length,
          bool cut_at_end)
      : StreamClip(context, vi, std::move(in), length, cut_at_end), header_(h) {}

  const Y4mHeader* y4m_header() const override { return &header_; }

 private:
  bool Begins(int n) override { return ReadY4mFrameHeader(*in_, n); }
  void ReadBody(int n, VideoFrame& frame) override {
    // The YUY2 repacking line set, allocated with the first frame.
    if (header_.pixel_type == VideoInfo::CS_YUY2 && scratch_.empty()) scratch_.resize(Y4mFrameBytes(header_));
    ReadY4mPlanes(*in_, header_, n, frame, scratch_);
  }

  Y4mHeader header_;
  std::vector<uint8_t> scratch_;
};

enum Y4mArg { kY4mPath, kY4mLength };

AVSValue __cdecl CreateY4MSource(AVSValue args, void* user_data, IScriptEnvironment* env) {
  try {
    auto in = InputStream::Open(args[kY4mPath].AsString(""));
    const Y4mHeader h = ReadY4mHeader(*in);
    VideoInfo vi = Y4mVideoInfo(h);  // its size is checked
    bool cut = false;
    const Length length = SetLength(env, "Y4MSource", args[kY4mLength], *in, vi, &cut,
                                    [&](bool* c) { return CountY4mFrames(*in, h, c); });
    return new Y4mClip(ContextOf(user_data), vi, std::move(in), h, length, cut);
  } catch (const ToolError& e) {
    Refuse(env, std::string("Y4MSource: ") + e.what());
  }
}

}  // namespace

void RegisterY4mSource(frameserver::Environment& env, ToolContext& context) {
  env.AddFunction("Y4MSource", "s[length]i", CreateY4MSource, &context);
}

}  // namespace tallyburn::tool
