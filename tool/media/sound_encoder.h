// Sound on its way into a media output's encoder: samples converted to the
// encoder's format, queued, encoded a frame at a time, and muxed. The
// source's re-encoded sound and the clip's own both go through it.
#pragma once

#include <cstdint>
#include <string>

#include "tool/media/ffmpeg.h"
#include "tool/media/muxer.h"

namespace tallyburn::tool {

struct SoundEncoding {
  const AVCodec* codec;
  int sample_rate;
  const AVChannelLayout* layout;  // an unspecified order becomes the default for its channels
  int64_t bit_rate;
  // The samples given to Convert (libswresample 4 takes the layout as mutable).
  AVChannelLayout* in_layout;
  AVSampleFormat in_format;
  int in_rate;
  // For messages: "cannot encode <encoded> as aac", "cannot convert <converted> for aac".
  std::string encoded, converted;
};

class SoundEncoder {
 public:
  SoundEncoder(const std::string& path, const AVOutputFormat* container, const SoundEncoding& encoding);
  // The stream its packets go to.
  AVStream* AddStream(Muxer& muxer);
  int sample_rate() const { return encoder_->sample_rate; }
  // Silence before the first sample in the output, in the encoder's samples.
  void set_lead(int64_t samples) { lead_ = samples; }
  // `count` samples from `in` (the input's format) into the queue; null
  // and 0: what the resampler still holds.
  void Convert(const uint8_t** in, int count);
  // The queue's whole frames into the encoder; `last`: the rest of the
  // resampler and the queue too, then the encoder's own.
  void Encode(bool last);

 private:
  // The encoder's packets into the muxer.
  void Drain();

  std::string path_;
  ff::CodecContext encoder_;
  ff::Resampler resampler_;
  ff::SampleFifo fifo_;
  ff::Frame frame_{av_frame_alloc()};
  ff::Packet packet_{av_packet_alloc()};
  Muxer* muxer_ = nullptr;
  AVStream* stream_ = nullptr;
  int64_t written_ = 0;  // samples given to the encoder
  int64_t lead_ = 0;
};

}  // namespace tallyburn::tool
