// MediaSource(path, track=0, fps_num=0, fps_den=0): any video file FFmpeg's
// libraries open, frame n the n-th in presentation order, in any order.
#include <cstring>

#include "slot_planes.h"
#include "tool/media/media_input.h"
#include "tool/script/source_support.h"

namespace tallyburn::tool {
namespace {

class MediaClip final : public ToolSource {
 public:
  MediaClip(std::unique_ptr<MediaInput> input) : ToolSource(input->info()), input_(std::move(input)) {}

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override {
    const Picture& pic = input_->Frame(n);
    PVideoFrame frame = env->NewVideoFrame(vi_);
    const bool bottom_up = DescribePixelType(vi_.pixel_type)->bottom_up();
    for (int k = 0; k < pic.count; ++k) {
      const int plane = kSlotPlaneIds[k];
      Copy(pic.planes[k], frame->GetWritePtr(plane), frame->GetPitch(plane), bottom_up);
    }
    if (pic.alpha) {
      // The host keeps the alpha plane out of the interface's slots.
      auto& host = *static_cast<frameserver::Environment*>(env);
      VideoFrame* f = frame.get();
      for (const frameserver::PlaneGeometry& g : *host.frames().Planes(f))
        if (g.plane == frameserver::kPlaneAlpha) Copy(pic.planes[3], f->vfb->GetWritePtr() + g.offset, g.pitch, false);
    }
    return frame;
  }

 private:
  static void Copy(const PlaneView& from, uint8_t* to, int pitch, bool bottom_up) noexcept {
    for (int r = 0; r < from.height; ++r) {
      uint8_t* line = to + static_cast<ptrdiff_t>(bottom_up ? from.height - 1 - r : r) * pitch;
      std::memcpy(line, from.data + static_cast<ptrdiff_t>(r) * from.pitch, static_cast<size_t>(from.row_bytes));
    }
  }

  std::unique_ptr<MediaInput> input_;
};

enum MediaArg { kMediaPath, kMediaTrack, kMediaFpsNum, kMediaFpsDen };

AVSValue __cdecl CreateMediaSource(AVSValue args, void* user_data, IScriptEnvironment* env) {
  const std::string path = args[kMediaPath].AsString("");
  MediaOptions options;
  options.track = args[kMediaTrack].AsInt(0);
  const int num = args[kMediaFpsNum].AsInt(0), den = args[kMediaFpsDen].AsInt(0);
  if (options.track < 0) Refuse(env, "MediaSource: track must not be negative");
  if (num < 0 || den < 0 || (num == 0) != (den == 0))
    Refuse(env, "MediaSource: give fps_num and fps_den together, both positive (30000 and 1001 for 29.97)");
  options.fps_num = static_cast<unsigned>(num);
  options.fps_den = static_cast<unsigned>(den);
  try {
    auto input = MediaInput::Open(path, options);
    ToolContext& context = ContextOf(user_data);
    const MediaFacts& facts = input->facts();
    context.AddInput(path, path);
    context.AddMedia({path, facts.stream_index, options.track});
    context.Describe("MediaSource " + path + ": " + facts.container + ", " + facts.codec + " " + facts.decoded + ", " +
                     facts.delivered);
    if (facts.cut) context.AddCut(input->CutMessage());
    return new MediaClip(std::move(input));
  } catch (const ToolError& e) {
    Refuse(env, std::string("MediaSource: ") + e.what());
  }
}

}  // namespace

void RegisterMediaSource(frameserver::Environment& env, ToolContext& context) {
  env.AddFunction("MediaSource", "s[track]i[fps_num]i[fps_den]i", CreateMediaSource, &context);
}

}  // namespace tallyburn::tool
