#include "tool/media/muxer.h"

namespace tallyburn::tool {
namespace {

// Writes the muxer's bytes into the output's temporary file.
int WritePacket(void* opaque, ff::WrittenBytes buf, int size) {
  try {
    static_cast<OutputStream*>(opaque)->Write(buf, static_cast<size_t>(size));
    return size;
  } catch (const ToolError&) {
    return AVERROR(EIO);
  }
}
int64_t SeekOutput(void* opaque, int64_t offset, int whence) {
  auto* out = static_cast<OutputStream*>(opaque);
  try {
    if (whence == AVSEEK_SIZE) return out->Size();
    return out->Seek(offset, whence & ~AVSEEK_FORCE);
  } catch (const ToolError&) {
    return AVERROR(EIO);
  }
}

}  // namespace

Muxer::Muxer(const std::string& path, const AVOutputFormat* container) : path_(path), out_(OutputStream::Open(path)) {
  constexpr int kIoBytes = 1 << 16;
  io_ = ff::MakeWritingIo(kIoBytes, out_.get(), WritePacket, SeekOutput);
  if (!io_) throw ToolError(path_ + ": out of memory");
  if (const int err = avformat_alloc_output_context2(format_.out(), container, nullptr, path_.c_str()); err < 0)
    ThrowMediaError(path_, "cannot make the container", err);
  format_->pb = io_.get();
  format_->flags |= AVFMT_FLAG_CUSTOM_IO;
}

AVStream* Muxer::AddStream() {
  AVStream* stream = avformat_new_stream(format_.get(), nullptr);
  if (stream == nullptr) throw ToolError(path_ + ": out of memory");
  return stream;
}

void Muxer::SetTimecode(const std::string& label, AVStream* video) {
  av_dict_set(&format_->metadata, "timecode", label.c_str(), 0);
  av_dict_set(&video->metadata, "timecode", label.c_str(), 0);
}

void Muxer::WriteHeader() {
  if (const int err = avformat_write_header(format_.get(), nullptr); err < 0)
    ThrowMediaError(path_, "cannot write the container's header", err);
}

void Muxer::Write(AVPacket* packet, const AVRational& from, AVStream* stream) {
  av_packet_rescale_ts(packet, from, stream->time_base);
  packet->stream_index = stream->index;
  if (const int err = av_interleaved_write_frame(format_.get(), packet); err < 0)
    ThrowMediaError(path_, "cannot write", err);
}

void Muxer::Finish() {
  if (const int err = av_write_trailer(format_.get()); err < 0)
    ThrowMediaError(path_, "cannot finish the container", err);
  avio_flush(io_.get());
  if (io_->error < 0) ThrowMediaError(path_, "cannot write", io_->error);
  out_->Commit();
}

}  // namespace tallyburn::tool
