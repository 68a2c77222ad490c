// A media output's container: libavformat's muxer writing through the
// tool's OutputStream, so that the file is made beside its place and put
// there only when the run succeeds.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "tool/media/ffmpeg.h"
#include "tool/media/io.h"

namespace tallyburn::tool {

class Muxer {
 public:
  // Makes the output's temporary file and the container over it. The
  // streams are added next, then the header written.
  Muxer(const std::string& path, const AVOutputFormat* container);
  // FFmpeg's I/O context holds the muxer's address.
  Muxer(const Muxer&) = delete;
  Muxer& operator=(const Muxer&) = delete;
  // A new stream, for its codec's parameters.
  AVStream* AddStream();
  // The start timecode, on the container and on its video stream.
  void SetTimecode(const std::string& label, AVStream* video);
  void WriteHeader();
  // A packet in time base `from`, interleaved into `stream`.
  void Write(AVPacket* packet, const AVRational& from, AVStream* stream);
  // The trailer, and the file put in its place.
  void Finish();
  const std::string& path() const { return path_; }

 private:
  static int WritePacket(void* opaque, ff::WrittenBytes buf, int size);
  static int64_t SeekOutput(void* opaque, int64_t offset, int whence);
  // In a callback, after the output's ToolError: keeps the first, returns
  // FFmpeg's code for a failed write.
  int Failed();
  // After a call of the muxer: the output's own error when a write failed,
  // else "path: what: FFmpeg's text" when `error` is one.
  void Check(const std::string& what, int error);

  std::string path_;
  std::unique_ptr<OutputStream> out_;
  ff::Io io_;
  ff::OutputFormat format_;
  std::exception_ptr failure_;  // the output's first failed write or seek
};

}  // namespace tallyburn::tool
