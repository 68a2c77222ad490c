#include "tool/media/video_encoder.h"

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <cstdio>
#include <memory>

#include "slot_planes.h"
#include "tool/media/media_log.h"
#include "tool/media/raw_formats.h"

namespace tallyburn::tool {
namespace {

// The host frame itself, lent to the encoder: the buffer holds a reference
// on the frame until the encoder lets go of it (on whichever thread).
void ReleaseLentFrame(void* opaque, uint8_t*) { delete static_cast<PVideoFrame*>(opaque); }

// FFmpeg's own frames start every plane and line on its widest SIMD width;
// a lent frame must too, or an encoder's aligned loads would fault.
bool Lendable(const uint8_t* const planes[], const int pitches[], int count) noexcept {
  const auto align = static_cast<uintptr_t>(av_cpu_max_align());
  for (int k = 0; k < count; ++k)
    if (reinterpret_cast<uintptr_t>(planes[k]) % align != 0 || pitches[k] <= 0 ||
        static_cast<uintptr_t>(pitches[k]) % align != 0)
      return false;
  return true;
}

// The picture's description: what the source file says of it, where the
// frames keep its family of colour; a YUV4MPEG2 input's range and aspect;
// the clip's field order.
void Describe(AVCodecContext* c, const VideoSetup& setup, const VideoInfo& vi, const PixelFormat& format) {
  const AVPixFmtDescriptor* out_desc = av_pix_fmt_desc_get(c->pix_fmt);
  const bool out_rgb = (out_desc->flags & AV_PIX_FMT_FLAG_RGB) != 0;
  const AVCodecParameters* source = setup.source_video;
  if (source != nullptr && out_rgb == format.rgb()) {
    c->color_range = source->color_range;
    c->color_primaries = source->color_primaries;
    c->color_trc = source->color_trc;
    c->colorspace = source->color_space;
    c->chroma_sample_location = source->chroma_location;
    c->field_order = source->field_order;
    c->sample_aspect_ratio = source->sample_aspect_ratio;
  }
  if (setup.y4m != nullptr) {
    for (const std::string& x : setup.y4m->extensions) {
      if (x == "XCOLORRANGE=FULL") c->color_range = AVCOL_RANGE_JPEG;
      if (x == "XCOLORRANGE=LIMITED") c->color_range = AVCOL_RANGE_MPEG;
    }
    int num = 0, den = 0;
    if (std::sscanf(setup.y4m->aspect.c_str(), "%d:%d", &num, &den) == 2 && num > 0 && den > 0)
      c->sample_aspect_ratio = AVRational{num, den};
    c->field_order = AV_FIELD_PROGRESSIVE;
  }
  if (out_rgb) c->color_range = AVCOL_RANGE_JPEG;
  if (vi.IsTFF()) c->field_order = AV_FIELD_TT;
  if (vi.IsBFF()) c->field_order = AV_FIELD_BB;
}

}  // namespace

AVPixelFormat ClipPixelFormat(const PixelFormat& f) {
  const std::string name = FfmpegPixFmt(f);
  return name.empty() ? AV_PIX_FMT_NONE : av_get_pix_fmt(name.c_str());
}

AVPixelFormat EncoderPixelFormat(const AVCodec* codec, AVPixelFormat clip) {
  if (codec->pix_fmts == nullptr) return clip;
  for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == clip) return clip;
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(clip);
  const bool alpha = d != nullptr && (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
  return avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, clip, alpha ? 1 : 0, nullptr);
}

bool ParseCodecOptions(const std::string& text, ff::Dictionary& dict) {
  return text.empty() || av_dict_parse_string(dict.out(), text.c_str(), "=", ":", 0) >= 0;
}

AVRational FrameRateOf(const VideoInfo& vi) {
  return AVRational{static_cast<int>(vi.fps_numerator), static_cast<int>(vi.fps_denominator)};
}

VideoEncoder::VideoEncoder(const VideoSetup& setup, const VideoInfo& vi, const PixelFormat& format, AVPixelFormat clip)
    : path_(setup.path), vi_(vi), format_(format), clip_format_(clip) {
  if (!picture_ || !lent_ || !packet_) throw ToolError(path_ + ": out of memory");
  const AVCodec* codec = setup.codec;
  encoder_format_ = EncoderPixelFormat(codec, clip_format_);
  if (encoder_format_ == AV_PIX_FMT_NONE)
    throw ToolError(path_ + ": " + codec->name + " takes no pixel format a " + format_.name + " clip converts to");
  video_.reset(avcodec_alloc_context3(codec));
  if (!video_) throw ToolError(path_ + ": out of memory");
  AVCodecContext* c = video_.get();
  c->width = vi_.width;
  c->height = vi_.height;
  c->pix_fmt = encoder_format_;
  c->framerate = FrameRateOf(vi_);
  c->time_base = av_inv_q(c->framerate);
  c->sample_aspect_ratio = AVRational{0, 1};
  c->thread_count = 0;  // as many as the encoder likes
  if ((setup.container->flags & AVFMT_GLOBALHEADER) != 0) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Describe(c, setup, vi_, format_);

  ff::Dictionary options;
  ParseCodecOptions(setup.options, options);  // checked by CheckMediaSettings
  int err = 0;
  {
    const QuietStandardError quiet;
    err = avcodec_open2(c, codec, options.out());
  }
  if (err < 0) ThrowMediaError(path_, std::string(codec->name) + " cannot encode this clip", err);
  // --codec-options pixel_format=... chooses the encoder's format itself.
  encoder_format_ = c->pix_fmt;

  if (encoder_format_ != clip_format_) {
    scaler_.reset(sws_getContext(vi_.width, vi_.height, clip_format_, vi_.width, vi_.height, encoder_format_,
                                 SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
    if (!scaler_)
      throw ToolError(path_ + ": cannot convert " + av_get_pix_fmt_name(clip_format_) + " to " +
                      av_get_pix_fmt_name(encoder_format_) + " for " + codec->name);
  }
  picture_->format = encoder_format_;
  picture_->width = vi_.width;
  picture_->height = vi_.height;
  if (av_frame_get_buffer(picture_.get(), 0) < 0) throw ToolError(path_ + ": out of memory");
}

AVStream* VideoEncoder::AddStream(Muxer& muxer) {
  muxer_ = &muxer;
  stream_ = muxer.AddStream();
  avcodec_parameters_from_context(stream_->codecpar, video_.get());
  stream_->time_base = video_->time_base;
  stream_->avg_frame_rate = video_->framerate;
  stream_->sample_aspect_ratio = video_->sample_aspect_ratio;
  return stream_;
}

bool VideoEncoder::Lend(const VideoFrame& frame, const uint8_t* const planes[], const int pitches[], int count) {
  if (scaler_ || !Lendable(planes, pitches, count)) return false;
  // The encoder reads the host's frame where it lies: a frame of 1080p is
  // 3 MB that would otherwise be copied once more.
  AVFrame* picture = lent_.get();
  picture->format = encoder_format_;
  picture->width = vi_.width;
  picture->height = vi_.height;
  auto held = std::make_unique<PVideoFrame>(const_cast<VideoFrame*>(&frame));
  const VideoFrameBuffer* buffer = frame.vfb;
  picture->buf[0] = av_buffer_create(const_cast<uint8_t*>(buffer->GetReadPtr()), buffer->GetDataSize(),
                                     ReleaseLentFrame, held.get(), AV_BUFFER_FLAG_READONLY);
  if (picture->buf[0] == nullptr) ThrowMediaError(path_, "cannot lend a frame", AVERROR(ENOMEM));
  static_cast<void>(held.release());  // the buffer's now, until ReleaseLentFrame
  for (int k = 0; k < count; ++k) {
    picture->data[k] = const_cast<uint8_t*>(planes[k]);
    picture->linesize[k] = pitches[k];
  }
  return true;
}

void VideoEncoder::Write(const VideoFrame& frame) {
  // The host's planes as FFmpeg's: packed RGB from its bottom line up.
  const uint8_t* planes[4] = {};
  int pitches[4] = {};
  const int count = SlotPlanes(format_);
  for (int k = 0; k < count; ++k) {
    // FFmpeg's planar RGB is G B R, as the host's slots.
    const int plane = kSlotPlaneIds[k];
    planes[k] = frame.GetReadPtr(plane);
    pitches[k] = frame.GetPitch(plane);
    if (format_.bottom_up()) {
      planes[k] += static_cast<ptrdiff_t>(vi_.height - 1) * pitches[k];
      pitches[k] = -pitches[k];
    }
  }
  const bool lent = Lend(frame, planes, pitches, count);
  AVFrame* picture = lent ? lent_.get() : picture_.get();
  if (!lent) {
    // The same buffer each frame, unless the encoder still holds it.
    if (const int err = av_frame_make_writable(picture); err < 0) ThrowMediaError(path_, "cannot make a frame", err);
    if (scaler_) {
      sws_scale(scaler_.get(), planes, pitches, 0, vi_.height, picture->data, picture->linesize);
    } else {
      for (int k = 0; k < count; ++k) {
        const PlaneSize size = PlaneSizeOf(format_, vi_.width, vi_.height, k);
        av_image_copy_plane(picture->data[k], picture->linesize[k], planes[k], pitches[k], size.row_bytes, size.height);
      }
    }
  }
  picture->pts = frames_in_++;
  picture->interlaced_frame = video_->field_order == AV_FIELD_TT || video_->field_order == AV_FIELD_BB ? 1 : 0;
  picture->top_field_first = video_->field_order == AV_FIELD_TT ? 1 : 0;
  Encode(picture);
  if (lent) av_frame_unref(picture);  // the encoder keeps its own reference where it needs one
}

void VideoEncoder::Flush() { Encode(nullptr); }

void VideoEncoder::Encode(const AVFrame* frame) {
  if (const int err = avcodec_send_frame(video_.get(), frame); err < 0)
    ThrowMediaError(path_, "the encoder failed", err);
  for (;;) {
    const int err = avcodec_receive_packet(video_.get(), packet_.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
    if (err < 0) ThrowMediaError(path_, "the encoder failed", err);
    muxer_->Write(packet_.get(), video_->time_base, stream_);
  }
}

}  // namespace tallyburn::tool
