// FFmpeg's objects, each owned by one template with the call that frees
// it, and its error codes as text: the one way the media room holds and
// reports them. FFmpeg's types stay inside tool/media.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <string>
#include <utility>

namespace tallyburn::tool {
namespace ff {

// FFmpeg's free calls take the owner's pointer and null it; those that
// take the object itself get a wrapper below.
template <typename T, void (*Free)(T**)>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T* p) : p_(p) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Owned& operator=(Owned&& o) noexcept {
    if (this != &o) reset(std::exchange(o.p_, nullptr));
    return *this;
  }
  ~Owned() { reset(); }

  void reset(T* p = nullptr) {
    if (p_ != nullptr) Free(&p_);
    p_ = p;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // The place for the calls that make the object there (avformat_open_input,
  // av_dict_parse_string, swr_alloc_set_opts2), which free it on failure.
  T** out() { return &p_; }

 private:
  T* p_ = nullptr;
};

void FreeOutputFormat(AVFormatContext** f);
void FreeScaler(SwsContext** s);
void FreeSampleFifo(AVAudioFifo** f);
// With its buffer, which the context does not own.
void FreeIo(AVIOContext** io);

// An input file (avformat_close_input) and a muxer (avformat_free_context)
// are freed differently.
using InputFormat = Owned<AVFormatContext, avformat_close_input>;
using OutputFormat = Owned<AVFormatContext, FreeOutputFormat>;
using CodecContext = Owned<AVCodecContext, avcodec_free_context>;
using Frame = Owned<AVFrame, av_frame_free>;
using Packet = Owned<AVPacket, av_packet_free>;
using Dictionary = Owned<AVDictionary, av_dict_free>;
using Scaler = Owned<SwsContext, FreeScaler>;
using Resampler = Owned<SwrContext, swr_free>;
using SampleFifo = Owned<AVAudioFifo, FreeSampleFifo>;
using Io = Owned<AVIOContext, FreeIo>;

// The bytes a write callback of an I/O context gets (libavformat 61 made
// them const).
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WrittenBytes = const uint8_t*;
#else
using WrittenBytes = uint8_t*;
#endif

// A writing I/O context over a buffer of its own; empty when out of memory.
Io MakeWritingIo(int buffer_bytes, void* opaque, int (*write)(void*, WrittenBytes, int),
                 int64_t (*seek)(void*, int64_t, int));

}  // namespace ff

// An FFmpeg error code as its text: "Invalid argument".
std::string AvErrorText(int error);

// The same, with the last error the libraries logged when there is one:
// "Invalid argument (malformed preset)".
std::string MediaErrorText(int error);

// A ToolError "path: what: error text".
[[noreturn]] void ThrowMediaError(const std::string& path, const std::string& what, int error);

// A file opened for reading by libavformat (its name taken as a file's,
// whatever it looks like); ToolError "path: cannot open: ..." else.
ff::InputFormat OpenMediaFile(const std::string& path);

}  // namespace tallyburn::tool
