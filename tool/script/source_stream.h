// Sources that read frames in order from a stream: a file or a pipe, in
// YUV4MPEG2 or raw. Files and pipes behave alike: a file's length is its
// whole frames, counted when it is opened, and a frame cut short at the
// end is the same error from either.
#pragma once

#include <memory>
#include <vector>

#include "avisynth.h"
#include "tool/media/io.h"
#include "tool/script/context.h"

namespace tallyburn::tool {

// Thrown by a streaming source asked for a frame past the end of a stream
// whose length it could not know: the end of the job, not an error.
struct EndOfStream {
  int frames;  // how many the stream held
};

// Base of the tool's sources: fixed VideoInfo, silent.
class ToolSource : public IClip {
 public:
  explicit ToolSource(const VideoInfo& vi) : vi_(vi) {}
  bool __stdcall GetParity(int) override { return vi_.IsTFF(); }
  void __stdcall GetAudio(void*, int64, int64, IScriptEnvironment*) override {}
  int __stdcall SetCacheHints(int, int) override { return 0; }
  const VideoInfo& __stdcall GetVideoInfo() override { return vi_; }

 protected:
  VideoInfo vi_;
};

// How a stream source knows its length: given by the script (an early end
// is an error), counted from a file, or unknown until a pipe ends.
enum class Length { kStated, kCounted, kUnknown };

// Reads frames in order. It keeps no frame, so each one it hands out is
// exclusive and the filters draw into it without a copy; a frame's buffer
// is allocated only when the frame has begun to arrive.
class StreamClip : public ToolSource, public LiveStream {
 public:
  StreamClip(ToolContext& context, const VideoInfo& vi, std::unique_ptr<InputStream> in, Length length,
             bool cut_at_end);
  ~StreamClip() override;

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override;

  bool unknown_length() const override { return length_ == Length::kUnknown; }
  const Y4mHeader* y4m_header() const override { return nullptr; }
  // A counted file that ends in part of a frame, read to its last whole
  // one: reads on into the cut frame, which throws TruncatedFrame.
  void CheckEnd(IScriptEnvironment* env) override;

 protected:
  // Whether frame n begins (its FRAME line, or its first byte); false at a
  // clean end of the stream.
  virtual bool Begins(int n) = 0;
  // Reads the rest of frame n into `frame`; TruncatedFrame if it is cut.
  virtual void ReadBody(int n, VideoFrame& frame) = 0;

  std::unique_ptr<InputStream> in_;

 private:
  ToolContext& context_;
  Length length_;
  bool cut_at_end_;  // a counted file with part of a frame after its last whole one
  int next_ = 0;
};

}  // namespace tallyburn::tool
