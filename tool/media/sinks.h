// Where the tool's frames go: YUV4MPEG2, raw frames, or PNG pictures.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "avisynth.h"
#include "tool/media/io.h"
#include "tool/media/y4m.h"

namespace tallyburn::tool {

// A file-name pattern for one file per frame: %d or %0Nd (N from 1 to 9)
// stands for the frame number, %% for a per cent sign. Parsed once.
class FramePattern {
 public:
  // Throws ToolError for a malformed pattern; `present` is false for a
  // name without a %d.
  static FramePattern Parse(const std::string& path);
  bool present() const { return present_; }
  std::string Expand(int n) const;
  // The files there are now that the pattern names, as paths.
  std::vector<std::string> Existing() const;

 private:
  bool present_ = false;
  std::string before_, after_;
  int width_ = 0;
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void Write(const VideoFrame& frame, int n) = 0;
  // The run succeeded: flushes, and puts the output in its place.
  virtual void Finish() = 0;
  // The run failed: a pipe or device keeps the whole frames written; a
  // file's temporary is dropped and the file left as it was.
  virtual void Abandon() = 0;
};

// A sink writing one output stream, frame by frame: a run that succeeds
// puts it in its place; one that fails keeps its whole frames (a pipe, a
// device) or drops its temporary file.
class StreamSink : public FrameSink {
 public:
  void Write(const VideoFrame& frame, int) final {
    WriteFrame(frame);
    out_->EndFrame();
  }
  void Finish() final { out_->Commit(); }
  void Abandon() final { out_->Abandon(); }

 protected:
  explicit StreamSink(std::unique_ptr<OutputStream> out) : out_(std::move(out)) {}
  OutputStream& stream() { return *out_; }
  virtual void WriteFrame(const VideoFrame& frame) = 0;

 private:
  std::unique_ptr<OutputStream> out_;
};

class Y4mSink final : public StreamSink {
 public:
  Y4mSink(std::unique_ptr<OutputStream> out, const VideoInfo& vi, const Y4mTags* keep)
      : StreamSink(std::move(out)), writer_(stream(), vi, keep) {}

 private:
  void WriteFrame(const VideoFrame& frame) override { writer_.WriteFrame(frame); }
  Y4mWriter writer_;
};

// Native packing, lines top-down, planes in slot order: what ffmpeg's
// rawvideo reads as bgr24, bgra, bgr48le, bgra64le, yuyv422, yuv420p,
// yuv422p10le, gray16le, gbrp, ...
class RawSink final : public StreamSink {
 public:
  RawSink(std::unique_ptr<OutputStream> out, const VideoInfo& vi) : StreamSink(std::move(out)), vi_(vi) {}

 private:
  void WriteFrame(const VideoFrame& frame) override;
  VideoInfo vi_;
};

// One PNG per frame: `path` itself, or the pattern's name for the frame.
// The pictures are written to a temporary folder beside the first and put
// in their places only when the run succeeds: all of them or none;
// `check` refuses a name (an input of the run) before it is written.
class PngSink final : public FrameSink {
 public:
  PngSink(std::string path, FramePattern pattern, const VideoInfo& vi, std::function<void(const std::string&)> check);
  ~PngSink() override;
  PngSink(const PngSink&) = delete;
  PngSink& operator=(const PngSink&) = delete;
  void Write(const VideoFrame& frame, int n) override;
  void Finish() override;
  void Abandon() override { RemoveFolder(); }
  const std::vector<std::string>& written() const { return written_; }

 private:
  std::string InFolder(size_t i) const { return folder_ + "/" + std::to_string(i); }
  void RemoveFolder();

  std::string folder_;  // the temporary folder; its pictures are 0, 1, 2, ...
  int tracked_ = -1;
  std::string path_;
  FramePattern pattern_;
  VideoInfo vi_;
  std::function<void(const std::string&)> check_;
  std::vector<uint16_t> rgb_;  // one picture, top line first
  std::vector<std::string> written_;
};

// The bits per sample a frame's PNG has: 16 for RGB deeper than 8 bits,
// 8 for the rest.
int PngDepth(const PixelFormat& format);

// The picture as RGB samples at that depth, top line first (BT.601 studio
// range for YUV of any depth).
void ToRgb(const VideoFrame& frame, const VideoInfo& vi, std::vector<uint16_t>& rgb);

}  // namespace tallyburn::tool
