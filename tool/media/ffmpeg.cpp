#include "tool/media/ffmpeg.h"

#include "tool/media/io.h"
#include "tool/media/media_log.h"

namespace tallyburn::tool {
namespace ff {

void FreeOutputFormat(AVFormatContext** f) {
  avformat_free_context(*f);
  *f = nullptr;
}

void FreeScaler(SwsContext** s) {
  sws_freeContext(*s);
  *s = nullptr;
}

void FreeSampleFifo(AVAudioFifo** f) {
  av_audio_fifo_free(*f);
  *f = nullptr;
}

void FreeIo(AVIOContext** io) {
  if (*io != nullptr) av_freep(&(*io)->buffer);
  avio_context_free(io);
}

Io MakeWritingIo(int buffer_bytes, void* opaque, int (*write)(void*, WrittenBytes, int),
                 int64_t (*seek)(void*, int64_t, int)) {
  auto* buffer = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(buffer_bytes)));
  if (buffer == nullptr) return Io();
  Io io(avio_alloc_context(buffer, buffer_bytes, 1, opaque, nullptr, write, seek));
  if (!io) av_free(buffer);
  return io;
}

}  // namespace ff

std::string AvErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return text;
}

std::string MediaErrorText(int error) {
  const std::string text = AvErrorText(error);
  const std::string logged = TakeMediaLogError();
  return logged.empty() ? text : text + " (" + logged + ")";
}

void ThrowMediaError(const std::string& path, const std::string& what, int error) {
  throw ToolError(path + ": " + what + ": " + MediaErrorText(error));
}

ff::InputFormat OpenMediaFile(const std::string& path) {
  ff::InputFormat file;
  if (const int err = avformat_open_input(file.out(), ("file:" + path).c_str(), nullptr, nullptr); err < 0)
    ThrowMediaError(path, "cannot open", err);
  return file;
}

}  // namespace tallyburn::tool
