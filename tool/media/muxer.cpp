#include "tool/media/muxer.h"

namespace tallyburn::tool {

// FFmpeg's I/O callbacks return an error code, and a failed write reaches
// the muxer's calls later, if at all, as that code: the output's own error
// ("write error: No space left on device", with its errno) is kept here,
// and thrown in place of what the muxer's call returns.
int Muxer::WritePacket(void* opaque, ff::WrittenBytes buf, int size) {
  auto* muxer = static_cast<Muxer*>(opaque);
  try {
    muxer->out_->Write(buf, static_cast<size_t>(size));
    return size;
  } catch (const ToolError&) {
    return muxer->Failed();
  }
}

int64_t Muxer::SeekOutput(void* opaque, int64_t offset, int whence) {
  auto* muxer = static_cast<Muxer*>(opaque);
  try {
    if (whence == AVSEEK_SIZE) return muxer->out_->Size();
    return muxer->out_->Seek(offset, whence & ~AVSEEK_FORCE);
  } catch (const ToolError&) {
    return muxer->Failed();
  }
}

int Muxer::Failed() {
  if (!failure_) failure_ = std::current_exception();
  return AVERROR(EIO);
}

void Muxer::Check(const std::string& what, int error) {
  if (failure_) std::rethrow_exception(failure_);
  if (error < 0) ThrowMediaError(path_, what, error);
}

Muxer::Muxer(const std::string& path, const AVOutputFormat* container) : path_(path), out_(OutputStream::Open(path)) {
  constexpr int kIoBytes = 1 << 16;
  io_ = ff::MakeWritingIo(kIoBytes, this, WritePacket, SeekOutput);
  if (!io_) throw ToolError(path_ + ": out of memory");
  Check("cannot make the container", avformat_alloc_output_context2(format_.out(), container, nullptr, path_.c_str()));
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
  Check("cannot write the container's header", avformat_write_header(format_.get(), nullptr));
}

void Muxer::Write(AVPacket* packet, const AVRational& from, AVStream* stream) {
  av_packet_rescale_ts(packet, from, stream->time_base);
  packet->stream_index = stream->index;
  Check("cannot write", av_interleaved_write_frame(format_.get(), packet));
}

void Muxer::Finish() {
  Check("cannot finish the container", av_write_trailer(format_.get()));
  avio_flush(io_.get());
  Check("cannot write", io_->error);
  out_->Commit();
}

}  // namespace tallyburn::tool
