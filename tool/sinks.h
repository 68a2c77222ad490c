// Where the tool's frames go: YUV4MPEG2, raw frames, or PNG pictures.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plugin/avisynth.h"
#include "tool/io.h"
#include "tool/y4m.h"

namespace tallyburn::tool {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void Write(const VideoFrame& frame, int n) = 0;
  // Flushes what was written: whole frames only.
  virtual void Finish() = 0;
};

class Y4mSink final : public FrameSink {
 public:
  Y4mSink(std::unique_ptr<OutputStream> out, const VideoInfo& vi, const Y4mTags* keep)
      : out_(std::move(out)), writer_(*out_, vi, keep) {}
  void Write(const VideoFrame& frame, int) override { writer_.WriteFrame(frame); }
  void Finish() override { out_->Flush(); }

 private:
  std::unique_ptr<OutputStream> out_;
  Y4mWriter writer_;
};

// Native packing, lines top-down, planes in slot order: what ffmpeg's
// rawvideo reads as bgr24, bgra, bgr48le, bgra64le, yuyv422, yuv420p,
// yuv422p10le, gray16le, gbrp, ...
class RawSink final : public FrameSink {
 public:
  RawSink(std::unique_ptr<OutputStream> out, const VideoInfo& vi) : out_(std::move(out)), vi_(vi) {}
  void Write(const VideoFrame& frame, int n) override;
  void Finish() override { out_->Flush(); }

 private:
  std::unique_ptr<OutputStream> out_;
  VideoInfo vi_;
};

// One PNG per frame: `path` itself, or `path` with its %d (or %0Nd)
// replaced by the frame number.
class PngSink final : public FrameSink {
 public:
  PngSink(std::string path, const VideoInfo& vi);
  void Write(const VideoFrame& frame, int n) override;
  void Finish() override {}
  const std::vector<std::string>& written() const { return written_; }

 private:
  std::string path_;
  VideoInfo vi_;
  std::vector<uint16_t> rgb_;  // one picture, top line first
  std::vector<std::string> written_;
};

// Whether `path` holds a frame-number pattern; throws ToolError for a
// malformed one (only %d, %0Nd with N up to 9, and %% are allowed).
bool HasFramePattern(const std::string& path);
std::string ExpandFramePattern(const std::string& path, int n);

// The bits per sample a frame's PNG has: 16 for RGB deeper than 8 bits,
// 8 for the rest.
int PngDepth(const PixelFormat& format);

// The picture as RGB samples at that depth, top line first (BT.601 studio
// range for YUV of any depth).
void ToRgb(const VideoFrame& frame, const VideoInfo& vi, std::vector<uint16_t>& rgb);

}  // namespace tallyburn::tool
