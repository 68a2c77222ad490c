#include "tool/media/sound_encoder.h"

#include <algorithm>

#include "tool/media/io.h"

namespace tallyburn::tool {
namespace {

// The encoder's own sample format where it takes the input's.
AVSampleFormat SampleFormatFor(const AVCodec* codec, AVSampleFormat in) {
  AVSampleFormat chosen = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : in;
  for (const AVSampleFormat* f = codec->sample_fmts; f != nullptr && *f != AV_SAMPLE_FMT_NONE; ++f)
    if (*f == in) chosen = *f;
  return chosen;
}

}  // namespace

SoundEncoder::SoundEncoder(const std::string& path, const AVOutputFormat* container, const SoundEncoding& encoding)
    : path_(path) {
  const AVCodec* codec = encoding.codec;
  encoder_.reset(avcodec_alloc_context3(codec));
  if (!encoder_ || !frame_ || !packet_) throw ToolError(path_ + ": out of memory");
  AVCodecContext* e = encoder_.get();
  e->sample_rate = encoding.sample_rate;
  av_channel_layout_copy(&e->ch_layout, encoding.layout);
  if (e->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&e->ch_layout, e->ch_layout.nb_channels);
  e->sample_fmt = SampleFormatFor(codec, encoding.in_format);
  e->time_base = AVRational{1, e->sample_rate};
  e->bit_rate = encoding.bit_rate;
  if ((container->flags & AVFMT_GLOBALHEADER) != 0) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (const int err = avcodec_open2(e, codec, nullptr); err < 0)
    ThrowMediaError(path_, "cannot encode " + encoding.encoded + " as " + codec->name, err);
  if (swr_alloc_set_opts2(resampler_.out(), &e->ch_layout, e->sample_fmt, e->sample_rate, encoding.in_layout,
                          encoding.in_format, encoding.in_rate, 0, nullptr) < 0 ||
      swr_init(resampler_.get()) < 0)
    throw ToolError(path_ + ": cannot convert " + encoding.converted + " for " + codec->name);
  fifo_.reset(av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, 4096));
  if (!fifo_) throw ToolError(path_ + ": out of memory");
}

AVStream* SoundEncoder::AddStream(Muxer& muxer) {
  muxer_ = &muxer;
  stream_ = muxer.AddStream();
  avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
  stream_->time_base = encoder_->time_base;
  return stream_;
}

void SoundEncoder::Convert(const uint8_t** in, int count) {
  const int want = swr_get_out_samples(resampler_.get(), count);
  if (in == nullptr && want <= 0) return;
  // The converted samples, in a frame of the encoder's format.
  AVFrame* out = frame_.get();
  out->nb_samples = want;
  out->format = encoder_->sample_fmt;
  av_channel_layout_copy(&out->ch_layout, &encoder_->ch_layout);
  if (av_frame_get_buffer(out, 0) < 0) {
    av_frame_unref(out);
    if (in == nullptr) return;
    throw ToolError(path_ + ": out of memory");
  }
  const int got = swr_convert(resampler_.get(), out->extended_data, want, in, count);
  if (got > 0) av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(out->extended_data), got);
  av_frame_unref(out);
}

void SoundEncoder::Encode(bool last) {
  if (last) Convert(nullptr, 0);
  AVCodecContext* e = encoder_.get();
  AVAudioFifo* fifo = fifo_.get();
  const int size = e->frame_size > 0 ? e->frame_size : 1024;
  AVFrame* f = frame_.get();
  while (av_audio_fifo_size(fifo) >= size || (last && av_audio_fifo_size(fifo) > 0)) {
    f->nb_samples = std::min(size, av_audio_fifo_size(fifo));
    f->format = e->sample_fmt;
    f->sample_rate = e->sample_rate;
    av_channel_layout_copy(&f->ch_layout, &e->ch_layout);
    if (av_frame_get_buffer(f, 0) < 0) throw ToolError(path_ + ": out of memory");
    av_audio_fifo_read(fifo, reinterpret_cast<void**>(f->data), f->nb_samples);
    f->pts = lead_ + written_;
    written_ += f->nb_samples;
    const int err = avcodec_send_frame(e, f);
    av_frame_unref(f);
    if (err < 0) ThrowMediaError(path_, "the sound encoder failed", err);
    Drain();
  }
  if (last) {
    avcodec_send_frame(e, nullptr);
    Drain();
  }
}

void SoundEncoder::Drain() {
  while (avcodec_receive_packet(encoder_.get(), packet_.get()) >= 0)
    muxer_->Write(packet_.get(), encoder_->time_base, stream_);
}

}  // namespace tallyburn::tool
