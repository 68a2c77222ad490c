#include "tool/media/clip_sound.h"

#include <algorithm>
#include <cstring>

#include "tool/media/io.h"

namespace tallyburn::tool {
namespace {

// The clip's sample type as FFmpeg's interleaved one; 24-bit samples are
// widened to 32 on the way (FFmpeg has no packed 24-bit format).
AVSampleFormat ClipSampleFormat(int sample_type) {
  switch (sample_type) {
    case VideoInfo::SAMPLE_INT8: return AV_SAMPLE_FMT_U8;
    case VideoInfo::SAMPLE_INT16: return AV_SAMPLE_FMT_S16;
    case VideoInfo::SAMPLE_INT24:
    case VideoInfo::SAMPLE_INT32: return AV_SAMPLE_FMT_S32;
    case VideoInfo::SAMPLE_FLOAT: return AV_SAMPLE_FMT_FLT;
    default: return AV_SAMPLE_FMT_NONE;
  }
}

// From the last sample back, so that each 3 bytes become the top of 4.
void Widen24(uint8_t* samples, int64_t count) {
  for (int64_t i = count - 1; i >= 0; --i) {
    const uint8_t* b = samples + i * 3;
    const uint32_t v =
        (static_cast<uint32_t>(b[0]) << 8) | (static_cast<uint32_t>(b[1]) << 16) | (static_cast<uint32_t>(b[2]) << 24);
    std::memcpy(samples + i * 4, &v, 4);
  }
}

}  // namespace

const AVCodec* ClipSoundEncoder(const AVOutputFormat* format, const std::string& asked, int sample_type) {
  if (!asked.empty()) return avcodec_find_encoder_by_name(asked.c_str());
  const bool mp4 = std::strcmp(format->name, "mp4") == 0;
  if (!mp4) {
    const char* own = sample_type == VideoInfo::SAMPLE_INT8    ? "pcm_u8"
                      : sample_type == VideoInfo::SAMPLE_INT24 ? "pcm_s24le"
                      : sample_type == VideoInfo::SAMPLE_INT32 ? "pcm_s32le"
                      : sample_type == VideoInfo::SAMPLE_FLOAT ? "pcm_f32le"
                                                               : "pcm_s16le";
    for (const char* name : {own, "pcm_s24le", "pcm_s16le"}) {
      const AVCodec* pcm = avcodec_find_encoder_by_name(name);
      if (pcm != nullptr && avformat_query_codec(format, pcm->id, FF_COMPLIANCE_NORMAL) == 1) return pcm;
    }
  }
  if (mp4) return avcodec_find_encoder_by_name("aac");
  return format->audio_codec != AV_CODEC_ID_NONE ? avcodec_find_encoder(format->audio_codec) : nullptr;
}

int64_t SampleOfClipFrame(const VideoInfo& vi, int64_t k) {
  return av_rescale_rnd(k, static_cast<int64_t>(vi.fps_denominator) * vi.audio_samples_per_second, vi.fps_numerator,
                        AV_ROUND_UP);
}

ClipSound::ClipSound(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run,
                     const AVOutputFormat* container)
    : vi_(vi), read_(run.clip_sound) {
  const std::string& path = settings.path;
  if (!read_) throw ToolError(path + ": the clip's sound cannot be read");
  const AVSampleFormat from = ClipSampleFormat(vi.sample_type);
  if (from == AV_SAMPLE_FMT_NONE || vi.nchannels <= 0)
    throw ToolError(path + ": the clip's sound is in no sample type FFmpeg takes");
  const AVCodec* codec = ClipSoundEncoder(container, settings.audio_codec, vi.sample_type);
  if (codec == nullptr)
    throw ToolError(path + ": the " + container->name +
                    " container takes no sound this FFmpeg encodes: give --audio-codec");
  next_ = SampleOfClipFrame(vi, run.first_frame);
  end_ = SampleOfClipFrame(vi, static_cast<int64_t>(run.first_frame) + run.frames);
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, vi.nchannels);
  // No change of rate: only the sample format, where the encoder wants another.
  encoder_ = std::make_unique<SoundEncoder>(
      path, container,
      SoundEncoding{codec, vi.audio_samples_per_second, &layout, 96000 * std::min(vi.nchannels, 6), &layout, from,
                    vi.audio_samples_per_second, "the clip's sound", "the clip's sound"});
}

void ClipSound::Pull(int64_t upto, bool at_end) {
  constexpr int64_t kPiece = 4096;  // samples per read
  const int channels = vi_.nchannels;
  upto = std::min(upto, end_);
  while (next_ < upto) {
    const int count = static_cast<int>(std::min(kPiece, upto - next_));
    const size_t wide = static_cast<size_t>(count) * channels * 4;  // room for 24-bit samples widened
    if (samples_.size() < wide) samples_.resize(wide);
    read_(samples_.data(), next_, count);
    next_ += count;
    if (vi_.sample_type == VideoInfo::SAMPLE_INT24) Widen24(samples_.data(), static_cast<int64_t>(count) * channels);
    const uint8_t* in[1] = {samples_.data()};
    encoder_->Convert(in, count);
  }
  encoder_->Encode(next_ >= end_ && upto >= end_ && at_end);
}

}  // namespace tallyburn::tool
