#include "tool/script/source_stream.h"

#include <string>

namespace tallyburn::tool {

StreamClip::StreamClip(ToolContext& context, const VideoInfo& vi, std::unique_ptr<InputStream> in, Length length,
                       bool cut_at_end)
    : ToolSource(vi), in_(std::move(in)), context_(context), length_(length), cut_at_end_(cut_at_end) {
  context_.AddInput(*in_);
  context_.AddStream(this);
}

StreamClip::~StreamClip() { context_.RemoveStream(this); }

PVideoFrame __stdcall StreamClip::GetFrame(int n, IScriptEnvironment* env) {
  if (n < next_)
    throw ToolError(in_->name() + ": frames are read in order: frame " + std::to_string(n) + " asked for after frame " +
                    std::to_string(next_ - 1));
  PVideoFrame frame;
  while (next_ <= n) {  // frames before n are read and dropped
    if (!Begins(next_)) {
      if (length_ != Length::kStated) throw EndOfStream{next_};
      throw ToolError(in_->name() + ": the stream ends after " + std::to_string(next_) + " of " +
                      std::to_string(vi_.num_frames) + " frames");
    }
    if (!frame) frame = env->NewVideoFrame(vi_);
    ReadBody(next_, *frame.get());
    ++next_;
  }
  return frame;
}

void StreamClip::CheckEnd(IScriptEnvironment* env) {
  if (length_ != Length::kCounted || !cut_at_end_ || next_ != vi_.num_frames) return;
  if (!Begins(next_)) return;
  PVideoFrame frame = env->NewVideoFrame(vi_);
  ReadBody(next_, *frame.get());
}

}  // namespace tallyburn::tool
