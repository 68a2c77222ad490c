// A media output's video encoder: the clip's frames lent to it where they
// lie (or copied, or converted to a format it takes), encoded, and their
// packets handed to the muxer.
#pragma once

#include <cstdint>
#include <string>

#include "avisynth.h"
#include "core/pixel_format.h"
#include "tool/media/ffmpeg.h"
#include "tool/media/muxer.h"
#include "tool/media/y4m.h"

namespace tallyburn::tool {

// The pixel format of the clip's frames as FFmpeg names it: packed RGB is
// B G R (A) per pixel, its lines read bottom-up.
AVPixelFormat ClipPixelFormat(const PixelFormat& f);

// The encoder's format for the clip's: the clip's own when it takes it,
// else the one that loses least (ProRes gets 4:2:0 as 4:2:2 10-bit).
AVPixelFormat EncoderPixelFormat(const AVCodec* codec, AVPixelFormat clip);

// "key=value:key=value" into a dictionary; false when it is not that.
bool ParseCodecOptions(const std::string& text, ff::Dictionary& dict);

AVRational FrameRateOf(const VideoInfo& vi);

// What the encoder is given beside the clip's frames.
struct VideoSetup {
  std::string path;  // the output's, for messages
  const AVCodec* codec;
  std::string options;  // checked by CheckMediaSettings
  const AVOutputFormat* container;
  const AVCodecParameters* source_video;  // the media source's, whose colour description is kept; or null
  const Y4mTags* y4m;                     // a YUV4MPEG2 input's range and aspect; or null
};

class VideoEncoder {
 public:
  // Opens the encoder for frames of `vi` in `format` (FFmpeg's `clip`).
  VideoEncoder(const VideoSetup& setup, const VideoInfo& vi, const PixelFormat& format, AVPixelFormat clip);
  // The video stream, in the muxer its packets go to.
  AVStream* AddStream(Muxer& muxer);
  void Write(const VideoFrame& frame);
  // The packets the encoder still holds.
  void Flush();
  int64_t frames() const { return frames_in_; }

 private:
  void Encode(const AVFrame* frame);
  // The host's frame itself as the encoder's picture, or false where its
  // planes are not aligned as FFmpeg's own.
  bool Lend(const VideoFrame& frame, const uint8_t* const planes[], const int pitches[], int count);

  std::string path_;
  VideoInfo vi_;
  PixelFormat format_;
  AVPixelFormat clip_format_, encoder_format_ = AV_PIX_FMT_NONE;
  ff::CodecContext video_;
  ff::Scaler scaler_;
  ff::Frame picture_{av_frame_alloc()}, lent_{av_frame_alloc()};
  ff::Packet packet_{av_packet_alloc()};
  Muxer* muxer_ = nullptr;
  AVStream* stream_ = nullptr;
  int64_t frames_in_ = 0;
};

}  // namespace tallyburn::tool
