#include "tool/media/media_output.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "core/pixel_format.h"
#include "slot_planes.h"
#include "tool/media/ffmpeg.h"
#include "tool/media/media_log.h"
#include "tool/media/media_timecode.h"
#include "tool/media/raw_formats.h"

namespace tallyburn::tool {
namespace {

// The encoder a container gets without --codec: what people receive in
// it. MP4 and Matroska carry H.264 for review copies; MOV carries ProRes
// 422 HQ for editing; MXF carries MPEG-2 at a fixed high quality (the one
// MXF video encoder that takes every frame size). Other containers get
// libavformat's own choice.
struct ContainerDefault {
  const char* muxer;
  const char* codec;
  const char* options;  // applied before the user's, for this encoder only
};
constexpr ContainerDefault kContainerDefaults[] = {
    {"mp4", "libx264", ""},
    {"matroska", "libx264", ""},
    {"mov", "prores_ks", "profile=hq"},
    {"mxf", "mpeg2video", "flags=+qscale:global_quality=236"},  // qscale 2
};

const ContainerDefault* DefaultOf(const AVOutputFormat* format) {
  for (const ContainerDefault& d : kContainerDefaults)
    if (std::strcmp(d.muxer, format->name) == 0) return &d;
  return nullptr;
}

using ff::CodecContext;
using ff::Dictionary;
using ff::Frame;
using ff::Packet;
using ff::Resampler;
using InputFile = ff::InputFormat;

const AVOutputFormat* ContainerFor(const std::string& path) { return av_guess_format(nullptr, path.c_str(), nullptr); }

const AVCodec* VideoEncoder(const std::string& name) {
  const AVCodec* c = avcodec_find_encoder_by_name(name.c_str());
  return c != nullptr && c->type == AVMEDIA_TYPE_VIDEO ? c : nullptr;
}

std::string Joined(const std::string& a, const std::string& b) { return a.empty() ? b : b.empty() ? a : a + ":" + b; }

// "key=value:key=value" into a dictionary; false when it is not that.
bool ParseOptions(const std::string& text, AVDictionary** dict) {
  return text.empty() || av_dict_parse_string(dict, text.c_str(), "=", ":", 0) >= 0;
}

// The pixel format of the clip's frames as FFmpeg names it: packed RGB is
// B G R (A) per pixel, its lines read bottom-up.
AVPixelFormat ClipPixelFormat(const PixelFormat& f) {
  const std::string name = FfmpegPixFmt(f);
  return name.empty() ? AV_PIX_FMT_NONE : av_get_pix_fmt(name.c_str());
}

// The encoder's format for the clip's: the clip's own when it takes it,
// else the one that loses least (ProRes gets 4:2:0 as 4:2:2 10-bit).
AVPixelFormat EncoderPixelFormat(const AVCodec* codec, AVPixelFormat clip) {
  if (codec->pix_fmts == nullptr) return clip;
  for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == clip) return clip;
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(clip);
  const bool alpha = d != nullptr && (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
  return avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, clip, alpha ? 1 : 0, nullptr);
}

bool IsPcm(AVCodecID id) {
  return std::strncmp(avcodec_get_name(id), "pcm_", 4) == 0 && av_get_exact_bits_per_sample(id) > 0;
}

AVRational RateOf(const VideoInfo& vi) {
  return AVRational{static_cast<int>(vi.fps_numerator), static_cast<int>(vi.fps_denominator)};
}

// How one sound stream of the source reaches the output.
enum class SoundWay {
  kCopy,    // packets as they are: compressed sound and the whole clip
  kCutPcm,  // PCM packets cut at the first and last sample
  kEncode,  // decoded, cut at the samples, encoded again
};

struct SoundPlan {
  int input_index;
  SoundWay way;
  const AVCodec* encoder;  // kEncode
  std::string from, to;    // codec names, for --info
};

// The container's own codec for a sound it cannot hold as it is.
const AVCodec* SoundEncoderFor(const AVOutputFormat* format, AVCodecID source, bool keep_codec) {
  if (keep_codec)
    if (const AVCodec* same = avcodec_find_encoder(source)) return same;
  return format->audio_codec != AV_CODEC_ID_NONE ? avcodec_find_encoder(format->audio_codec) : nullptr;
}

// What the source's sound streams become: PCM is cut at any sample;
// compressed sound is copied when the whole clip is written, and encoded
// again with its own codec when the output starts or ends inside one of
// its packets; a codec the container cannot hold becomes its own.
std::vector<SoundPlan> PlanSound(const AVFormatContext* source, const AVOutputFormat* format, bool whole) {
  std::vector<SoundPlan> plans;
  for (unsigned i = 0; i < source->nb_streams; ++i) {
    const AVCodecParameters* par = source->streams[i]->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_AUDIO || par->codec_id == AV_CODEC_ID_NONE) continue;
    const bool holds = avformat_query_codec(format, par->codec_id, FF_COMPLIANCE_NORMAL) == 1;
    SoundPlan plan{static_cast<int>(i), SoundWay::kEncode, nullptr, avcodec_get_name(par->codec_id), ""};
    if (holds && IsPcm(par->codec_id)) {
      plan.way = SoundWay::kCutPcm;
    } else if (holds && whole) {
      plan.way = SoundWay::kCopy;
    } else {
      plan.encoder = SoundEncoderFor(format, par->codec_id, holds);
      if (plan.encoder == nullptr || !avcodec_find_decoder(par->codec_id)) continue;  // said by --info
    }
    plan.to = plan.encoder != nullptr ? plan.encoder->name : plan.from;
    plans.push_back(plan);
  }
  return plans;
}

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

// The encoder of a clip's own sound: the one asked for; else PCM of the
// clip's own sample type where the container holds it (MOV, MKV, AVI, ...)
// and not MP4, whose players expect AAC; else the container's own codec.
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

// The clip's sample at the start of its frame k, as the sound filters
// count it: k * den * rate / num, rounded up.
int64_t SampleOfClipFrame(const VideoInfo& vi, int64_t k) {
  return av_rescale_rnd(k, static_cast<int64_t>(vi.fps_denominator) * vi.audio_samples_per_second, vi.fps_numerator,
                        AV_ROUND_UP);
}

InputFile OpenSource(const std::string& path) {
  InputFile file = OpenMediaFile(path);
  if (const int err = avformat_find_stream_info(file.get(), nullptr); err < 0)
    throw ToolError(path + ": cannot read: " + MediaErrorText(err));
  return file;
}

// The source's start timecode at the output's first frame.
std::optional<std::string> TimecodeAt(const MediaOrigin& source, const VideoInfo& vi, int first) {
  const std::optional<StartTimecode> start = ReadStartTimecode(source.path, source.stream_index);
  if (!start) return std::nullopt;
  return MoveTimecode(start->label, vi.fps_numerator, vi.fps_denominator, first);
}

// Writes the muxer's bytes into the output's temporary file (libavformat
// 61 made the bytes const).
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using MuxerBytes = const uint8_t*;
#else
using MuxerBytes = uint8_t*;
#endif
int WritePacket(void* opaque, MuxerBytes buf, int size) {
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

// One sound stream on its way from the source to the output.
struct SoundTrack {
  SoundPlan plan;
  AVStream* in = nullptr;
  AVStream* out = nullptr;
  int64_t begin = 0,
          end = 0;        // the samples written, counted from the stream's first
  int64_t start_pts = 0;  // the stream's first timestamp
  int sample_rate = 0;
  bool done = false;
  // kCutPcm
  int frame_bytes = 0;  // one sample of every channel
  // kCopy: the source time of the output's first frame, in the stream's time
  // base
  int64_t offset = 0;
  // kEncode
  CodecContext decoder, encoder;
  Resampler resampler;
  AVAudioFifo* fifo = nullptr;
  int64_t written = 0;  // samples given to the encoder
  int64_t lead = 0;     // silence before the stream's first sample in the output
  ~SoundTrack() {
    if (fifo != nullptr) av_audio_fifo_free(fifo);
  }
};

class MediaSink final : public FrameSink {
 public:
  MediaSink(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run);
  ~MediaSink() override;
  void Write(const VideoFrame& frame, int n) override;
  void Finish() override;
  void Abandon() override;

 private:
  void OpenEncoder(const AVCodecParameters* source_video);
  void OpenSound();
  void OpenClipSound();
  void OpenContainer();
  void Encode(const AVFrame* frame);
  void Mux(AVPacket* packet, const AVRational& from, AVStream* stream);
  // Sound of the source up to `seconds` of the output (all of it at the end).
  void PumpSound(double seconds);
  void SoundPacket(SoundTrack& t, AVPacket* packet);
  void DecodeSound(SoundTrack& t, const AVPacket* packet);
  void EncodeSound(SoundTrack& t, bool last);
  // `count` samples from `in` (the resampler's input format) into the track's
  // fifo.
  void ConvertSound(SoundTrack& t, const uint8_t** in, int count);
  // The clip's own sound up to its sample `upto`, into its encoder.
  void PullClipSound(int64_t upto);
  [[noreturn]] void Fail(const std::string& what, int err) const;

  MediaSettings settings_;
  VideoInfo vi_;
  MediaRun run_;
  PixelFormat format_{};
  AVPixelFormat clip_format_ = AV_PIX_FMT_NONE, encoder_format_ = AV_PIX_FMT_NONE;
  const AVOutputFormat* container_ = nullptr;
  const AVCodec* codec_ = nullptr;
  CodecContext video_;
  SwsContext* scaler_ = nullptr;
  Frame picture_{av_frame_alloc()}, lent_{av_frame_alloc()}, sound_frame_{av_frame_alloc()};
  Packet packet_{av_packet_alloc()};
  InputFile source_;
  std::vector<std::unique_ptr<SoundTrack>> sound_;
  std::unique_ptr<SoundTrack> clip_sound_;  // the clip's own, which replaces the source's
  std::vector<uint8_t> clip_samples_;       // one read of it
  int64_t clip_read_ = 0;                   // the clip's next sample to read
  std::optional<std::string> timecode_;
  std::unique_ptr<OutputStream> out_;
  AVIOContext* io_ = nullptr;
  AVFormatContext* mux_ = nullptr;
  AVStream* video_stream_ = nullptr;
  int64_t frames_in_ = 0;
  bool sound_at_end_ = false;
  double sound_reached_ = -1e18;  // output seconds of the last sound packet read
};

[[noreturn]] void MediaSink::Fail(const std::string& what, int err) const {
  throw ToolError(settings_.path + ": " + what + ": " + MediaErrorText(err));
}

MediaSink::MediaSink(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run)
    : settings_(settings), vi_(vi), run_(run) {
  const std::optional<PixelFormat> f = DescribePixelType(vi.pixel_type);
  if (f) format_ = *f;
  clip_format_ = f && !(f->alpha && f->family != Family::kPackedRgb) ? ClipPixelFormat(*f) : AV_PIX_FMT_NONE;
  if (clip_format_ == AV_PIX_FMT_NONE)
    throw ToolError(settings.path + ": a clip in " + (f ? f->name : std::string("this format")) +
                    " cannot be encoded: media outputs take no alpha planes "
                    "and no floating-point YUV (a .png output "
                    "takes it, without its alpha)");
  container_ = ContainerFor(settings.path);
  codec_ = VideoEncoder(settings.codec);
  if (picture_.get() == nullptr || lent_.get() == nullptr || sound_frame_.get() == nullptr || packet_.get() == nullptr)
    throw ToolError(settings.path + ": out of memory");

  const AVCodecParameters* source_video = nullptr;
  if (run.source) {
    source_ = OpenSource(run.source->path);
    const int index = run.source->stream_index;
    if (index >= 0 && index < static_cast<int>(source_->nb_streams)) source_video = source_->streams[index]->codecpar;
    timecode_ = TimecodeAt(*run.source, vi, run.first_frame);
  }
  OpenEncoder(source_video);
  if (vi_.HasAudio())
    OpenClipSound();
  else if (source_)
    OpenSound();
  OpenContainer();
}

MediaSink::~MediaSink() {
  if (mux_ != nullptr) avformat_free_context(mux_);
  if (io_ != nullptr) {
    av_freep(&io_->buffer);  // the context does not own its buffer
    avio_context_free(&io_);
  }
  sws_freeContext(scaler_);
}

void MediaSink::OpenEncoder(const AVCodecParameters* source_video) {
  encoder_format_ = EncoderPixelFormat(codec_, clip_format_);
  if (encoder_format_ == AV_PIX_FMT_NONE)
    throw ToolError(settings_.path + ": " + codec_->name + " takes no pixel format a " + format_.name +
                    " clip converts to");
  video_ = CodecContext(avcodec_alloc_context3(codec_));
  if (video_.get() == nullptr) throw ToolError(settings_.path + ": out of memory");
  AVCodecContext* c = video_.get();
  c->width = vi_.width;
  c->height = vi_.height;
  c->pix_fmt = encoder_format_;
  c->framerate = RateOf(vi_);
  c->time_base = av_inv_q(c->framerate);
  c->sample_aspect_ratio = AVRational{0, 1};
  c->thread_count = 0;  // as many as the encoder likes
  if ((container_->flags & AVFMT_GLOBALHEADER) != 0) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

  // The picture's description: what the source file says of it, where
  // the frames keep its family of colour; a YUV4MPEG2 input's range and
  // aspect; the clip's field order.
  const AVPixFmtDescriptor* out_desc = av_pix_fmt_desc_get(encoder_format_);
  const bool out_rgb = (out_desc->flags & AV_PIX_FMT_FLAG_RGB) != 0;
  if (source_video != nullptr && out_rgb == format_.rgb()) {
    c->color_range = source_video->color_range;
    c->color_primaries = source_video->color_primaries;
    c->color_trc = source_video->color_trc;
    c->colorspace = source_video->color_space;
    c->chroma_sample_location = source_video->chroma_location;
    c->field_order = source_video->field_order;
    c->sample_aspect_ratio = source_video->sample_aspect_ratio;
  }
  if (run_.y4m) {
    for (const std::string& x : run_.y4m->extensions) {
      if (x == "XCOLORRANGE=FULL") c->color_range = AVCOL_RANGE_JPEG;
      if (x == "XCOLORRANGE=LIMITED") c->color_range = AVCOL_RANGE_MPEG;
    }
    int num = 0, den = 0;
    if (std::sscanf(run_.y4m->aspect.c_str(), "%d:%d", &num, &den) == 2 && num > 0 && den > 0)
      c->sample_aspect_ratio = AVRational{num, den};
    c->field_order = AV_FIELD_PROGRESSIVE;
  }
  if (out_rgb) c->color_range = AVCOL_RANGE_JPEG;
  if (vi_.IsTFF()) c->field_order = AV_FIELD_TT;
  if (vi_.IsBFF()) c->field_order = AV_FIELD_BB;

  Dictionary options;
  ParseOptions(settings_.options,
               options.out());  // checked by CheckMediaSettings
  int err = 0;
  {
    const QuietStandardError quiet;
    err = avcodec_open2(c, codec_, options.out());
  }
  if (err < 0) Fail(std::string(codec_->name) + " cannot encode this clip", err);
  // --codec-options pixel_format=... chooses the encoder's format itself.
  encoder_format_ = c->pix_fmt;

  if (encoder_format_ != clip_format_) {
    scaler_ = sws_getContext(vi_.width, vi_.height, clip_format_, vi_.width, vi_.height, encoder_format_,
                             SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr)
      throw ToolError(settings_.path + ": cannot convert " + av_get_pix_fmt_name(clip_format_) + " to " +
                      av_get_pix_fmt_name(encoder_format_) + " for " + codec_->name);
  }
  picture_->format = encoder_format_;
  picture_->width = vi_.width;
  picture_->height = vi_.height;
  if (av_frame_get_buffer(picture_.get(), 0) < 0) throw ToolError(settings_.path + ": out of memory");
}

void MediaSink::OpenSound() {
  const bool whole = run_.first_frame == 0 && run_.frames == vi_.num_frames;
  const AVStream* video =
      run_.source->stream_index >= 0 && run_.source->stream_index < static_cast<int>(source_->nb_streams)
          ? source_->streams[run_.source->stream_index]
          : nullptr;
  // The source time of the clip's frame 0: its video's first.
  const double zero =
      video != nullptr && video->start_time != AV_NOPTS_VALUE ? video->start_time * av_q2d(video->time_base) : 0.0;
  const double from = zero + run_.first_frame / av_q2d(RateOf(vi_));
  const double to = zero + (static_cast<double>(run_.first_frame) + run_.frames) / av_q2d(RateOf(vi_));
  for (const SoundPlan& plan : PlanSound(source_.get(), container_, whole)) {
    auto t = std::make_unique<SoundTrack>();
    t->plan = plan;
    t->in = source_->streams[plan.input_index];
    const AVCodecParameters* par = t->in->codecpar;
    t->sample_rate = par->sample_rate;
    t->start_pts = t->in->start_time != AV_NOPTS_VALUE ? t->in->start_time : 0;
    const double first = t->start_pts * av_q2d(t->in->time_base);
    t->begin = std::llround((from - first) * t->sample_rate);
    t->end = std::llround((to - first) * t->sample_rate);
    t->offset = av_rescale_q(std::llround(from * AV_TIME_BASE), AV_TIME_BASE_Q, t->in->time_base);
    if (plan.way == SoundWay::kCutPcm)
      t->frame_bytes = av_get_exact_bits_per_sample(par->codec_id) / 8 * par->ch_layout.nb_channels;
    if (plan.way == SoundWay::kEncode) {
      const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
      t->decoder = CodecContext(avcodec_alloc_context3(decoder));
      if (t->decoder.get() == nullptr) throw ToolError(settings_.path + ": out of memory");
      avcodec_parameters_to_context(t->decoder.get(), par);
      t->decoder->pkt_timebase = t->in->time_base;
      if (const int err = avcodec_open2(t->decoder.get(), decoder, nullptr); err < 0)
        Fail("cannot decode the sound of " + run_.source->path, err);
      const AVCodec* enc = plan.encoder;
      t->encoder = CodecContext(avcodec_alloc_context3(enc));
      AVCodecContext* e = t->encoder.get();
      if (e == nullptr) throw ToolError(settings_.path + ": out of memory");
      e->sample_rate = par->sample_rate;
      if (enc->supported_samplerates != nullptr) {
        int best = enc->supported_samplerates[0];
        for (const int* r = enc->supported_samplerates; *r != 0; ++r)
          if (std::abs(*r - par->sample_rate) < std::abs(best - par->sample_rate)) best = *r;
        e->sample_rate = best;
      }
      av_channel_layout_copy(&e->ch_layout, &par->ch_layout);
      if (e->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&e->ch_layout, par->ch_layout.nb_channels);
      e->sample_fmt = enc->sample_fmts != nullptr ? enc->sample_fmts[0] : t->decoder->sample_fmt;
      for (const AVSampleFormat* s = enc->sample_fmts; s != nullptr && *s != AV_SAMPLE_FMT_NONE; ++s)
        if (*s == t->decoder->sample_fmt) e->sample_fmt = *s;
      e->time_base = AVRational{1, e->sample_rate};
      // The source's rate where it is the same codec, else one that
      // keeps speech and music clean.
      e->bit_rate = par->codec_id == enc->id && par->bit_rate > 0 ? par->bit_rate
                                                                  : 96000 * std::min(par->ch_layout.nb_channels, 6);
      if ((container_->flags & AVFMT_GLOBALHEADER) != 0) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
      if (const int err = avcodec_open2(e, enc, nullptr); err < 0)
        Fail(std::string("cannot encode the sound as ") + enc->name, err);
      SwrContext* swr = nullptr;
      if (swr_alloc_set_opts2(&swr, &e->ch_layout, e->sample_fmt, e->sample_rate, &t->decoder->ch_layout,
                              t->decoder->sample_fmt, t->decoder->sample_rate, 0, nullptr) < 0 ||
          swr_init(swr) < 0) {
        swr_free(&swr);
        throw ToolError(settings_.path + ": cannot convert the sound of " + run_.source->path + " for " + enc->name);
      }
      t->resampler = Resampler(swr);
      t->fifo = av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, 4096);
      if (t->fifo == nullptr) throw ToolError(settings_.path + ": out of memory");
      // The rate may change; the cut is in the source's samples.
      t->lead = t->begin < 0 ? av_rescale(-t->begin, e->sample_rate, t->sample_rate) : 0;
    }
    sound_.push_back(std::move(t));
  }
  // Only the sound is read, from a little before the first sample written.
  for (unsigned i = 0; i < source_->nb_streams; ++i) source_->streams[i]->discard = AVDISCARD_ALL;
  for (const auto& t : sound_) t->in->discard = AVDISCARD_DEFAULT;
  if (from > 0.5 && !sound_.empty())
    av_seek_frame(source_.get(), -1, std::llround((from - 0.5) * AV_TIME_BASE), AVSEEK_FLAG_BACKWARD);
}

void MediaSink::OpenClipSound() {
  if (!run_.clip_sound) throw ToolError(settings_.path + ": the clip's sound cannot be read");
  const AVSampleFormat from = ClipSampleFormat(vi_.sample_type);
  if (from == AV_SAMPLE_FMT_NONE || vi_.nchannels <= 0)
    throw ToolError(settings_.path + ": the clip's sound is in no sample type FFmpeg takes");
  const AVCodec* enc = ClipSoundEncoder(container_, settings_.audio_codec, vi_.sample_type);
  if (enc == nullptr)
    throw ToolError(settings_.path + ": the " + container_->name +
                    " container takes no sound this FFmpeg encodes: give --audio-codec");
  auto t = std::make_unique<SoundTrack>();
  t->plan = SoundPlan{-1, SoundWay::kEncode, enc, "the clip's", enc->name};
  t->sample_rate = vi_.audio_samples_per_second;
  t->begin = SampleOfClipFrame(vi_, run_.first_frame);
  t->end = SampleOfClipFrame(vi_, static_cast<int64_t>(run_.first_frame) + run_.frames);
  t->encoder = CodecContext(avcodec_alloc_context3(enc));
  AVCodecContext* e = t->encoder.get();
  if (e == nullptr) throw ToolError(settings_.path + ": out of memory");
  e->sample_rate = t->sample_rate;
  av_channel_layout_default(&e->ch_layout, vi_.nchannels);
  e->sample_fmt = enc->sample_fmts != nullptr ? enc->sample_fmts[0] : from;
  for (const AVSampleFormat* f = enc->sample_fmts; f != nullptr && *f != AV_SAMPLE_FMT_NONE; ++f)
    if (*f == from) e->sample_fmt = *f;
  e->time_base = AVRational{1, e->sample_rate};
  e->bit_rate = 96000 * std::min(vi_.nchannels, 6);
  if ((container_->flags & AVFMT_GLOBALHEADER) != 0) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (const int err = avcodec_open2(e, enc, nullptr); err < 0)
    Fail(std::string("cannot encode the clip's sound as ") + enc->name, err);
  // No change of rate: only the sample format, where the encoder wants another.
  SwrContext* swr = nullptr;
  if (swr_alloc_set_opts2(&swr, &e->ch_layout, e->sample_fmt, e->sample_rate, &e->ch_layout, from, e->sample_rate, 0,
                          nullptr) < 0 ||
      swr_init(swr) < 0) {
    swr_free(&swr);
    throw ToolError(settings_.path + ": cannot convert the clip's sound for " + enc->name);
  }
  t->resampler = Resampler(swr);
  t->fifo = av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, 4096);
  if (t->fifo == nullptr) throw ToolError(settings_.path + ": out of memory");
  clip_read_ = t->begin;
  clip_sound_ = std::move(t);
}

void MediaSink::PullClipSound(int64_t upto) {
  SoundTrack& t = *clip_sound_;
  constexpr int64_t kPiece = 4096;  // samples per read
  const int channels = vi_.nchannels;
  upto = std::min(upto, t.end);
  while (clip_read_ < upto) {
    const int count = static_cast<int>(std::min(kPiece, upto - clip_read_));
    const size_t wide = static_cast<size_t>(count) * channels * 4;  // room for 24-bit samples widened
    if (clip_samples_.size() < wide) clip_samples_.resize(wide);
    run_.clip_sound(clip_samples_.data(), clip_read_, count);
    clip_read_ += count;
    if (vi_.sample_type == VideoInfo::SAMPLE_INT24) {
      // From the last sample back, so that each 3 bytes become the top of 4.
      for (int64_t i = static_cast<int64_t>(count) * channels - 1; i >= 0; --i) {
        const uint8_t* b = clip_samples_.data() + i * 3;
        const uint32_t v = (static_cast<uint32_t>(b[0]) << 8) | (static_cast<uint32_t>(b[1]) << 16) |
                           (static_cast<uint32_t>(b[2]) << 24);
        std::memcpy(clip_samples_.data() + i * 4, &v, 4);
      }
    }
    const uint8_t* in[1] = {clip_samples_.data()};
    ConvertSound(t, in, count);
  }
  EncodeSound(t, clip_read_ >= t.end && upto >= t.end && sound_at_end_);
}

void MediaSink::OpenContainer() {
  // Only now is the file made: every refusal above left nothing behind.
  out_ = OutputStream::Open(settings_.path);
  constexpr int kIoBytes = 1 << 16;
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBytes));
  io_ = buffer != nullptr ? avio_alloc_context(buffer, kIoBytes, 1, out_.get(), nullptr, WritePacket, SeekOutput)
                          : nullptr;
  if (io_ == nullptr) {
    av_free(buffer);
    throw ToolError(settings_.path + ": out of memory");
  }
  if (const int err = avformat_alloc_output_context2(&mux_, container_, nullptr, settings_.path.c_str()); err < 0)
    Fail("cannot make the container", err);
  mux_->pb = io_;
  mux_->flags |= AVFMT_FLAG_CUSTOM_IO;

  video_stream_ = avformat_new_stream(mux_, nullptr);
  if (video_stream_ == nullptr) throw ToolError(settings_.path + ": out of memory");
  avcodec_parameters_from_context(video_stream_->codecpar, video_.get());
  video_stream_->time_base = video_->time_base;
  video_stream_->avg_frame_rate = video_->framerate;
  video_stream_->sample_aspect_ratio = video_->sample_aspect_ratio;
  for (auto& t : sound_) {
    t->out = avformat_new_stream(mux_, nullptr);
    if (t->out == nullptr) throw ToolError(settings_.path + ": out of memory");
    if (t->plan.way == SoundWay::kEncode) {
      avcodec_parameters_from_context(t->out->codecpar, t->encoder.get());
      t->out->time_base = t->encoder->time_base;
    } else {
      avcodec_parameters_copy(t->out->codecpar, t->in->codecpar);
      t->out->codecpar->codec_tag = 0;
      t->out->time_base = t->plan.way == SoundWay::kCutPcm ? AVRational{1, t->sample_rate} : t->in->time_base;
    }
    av_dict_copy(&t->out->metadata, t->in->metadata, 0);
  }
  if (clip_sound_) {
    clip_sound_->out = avformat_new_stream(mux_, nullptr);
    if (clip_sound_->out == nullptr) throw ToolError(settings_.path + ": out of memory");
    avcodec_parameters_from_context(clip_sound_->out->codecpar, clip_sound_->encoder.get());
    clip_sound_->out->time_base = clip_sound_->encoder->time_base;
  }
  if (timecode_) {
    av_dict_set(&mux_->metadata, "timecode", timecode_->c_str(), 0);
    av_dict_set(&video_stream_->metadata, "timecode", timecode_->c_str(), 0);
  }
  if (const int err = avformat_write_header(mux_, nullptr); err < 0) Fail("cannot write the container's header", err);
}

void MediaSink::Mux(AVPacket* packet, const AVRational& from, AVStream* stream) {
  av_packet_rescale_ts(packet, from, stream->time_base);
  packet->stream_index = stream->index;
  if (const int err = av_interleaved_write_frame(mux_, packet); err < 0) Fail("cannot write", err);
}

void MediaSink::Encode(const AVFrame* frame) {
  if (const int err = avcodec_send_frame(video_.get(), frame); err < 0) Fail("the encoder failed", err);
  for (;;) {
    const int err = avcodec_receive_packet(video_.get(), packet_.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
    if (err < 0) Fail("the encoder failed", err);
    Mux(packet_.get(), video_->time_base, video_stream_);
  }
}

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

void MediaSink::Write(const VideoFrame& frame, int) {
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
  AVFrame* picture = picture_.get();
  if (scaler_ == nullptr && Lendable(planes, pitches, count)) {
    // The encoder reads the host's frame where it lies: a frame of 1080p
    // is 3 MB that would otherwise be copied once more.
    picture = lent_.get();
    picture->format = encoder_format_;
    picture->width = vi_.width;
    picture->height = vi_.height;
    auto* held = new PVideoFrame(const_cast<VideoFrame*>(&frame));
    const VideoFrameBuffer* buffer = frame.vfb;
    picture->buf[0] = av_buffer_create(const_cast<uint8_t*>(buffer->GetReadPtr()), buffer->GetDataSize(),
                                       ReleaseLentFrame, held, AV_BUFFER_FLAG_READONLY);
    if (picture->buf[0] == nullptr) {
      delete held;
      Fail("cannot lend a frame", AVERROR(ENOMEM));
    }
    for (int k = 0; k < count; ++k) {
      picture->data[k] = const_cast<uint8_t*>(planes[k]);
      picture->linesize[k] = pitches[k];
    }
  } else {
    // The same buffer each frame, unless the encoder still holds it.
    if (const int err = av_frame_make_writable(picture); err < 0) Fail("cannot make a frame", err);
    if (scaler_ != nullptr) {
      sws_scale(scaler_, planes, pitches, 0, vi_.height, picture->data, picture->linesize);
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
  if (picture == lent_.get()) av_frame_unref(picture);  // the encoder keeps its own reference where it needs one
  if (!sound_.empty()) PumpSound(static_cast<double>(frames_in_) / av_q2d(RateOf(vi_)));
  if (clip_sound_) PullClipSound(SampleOfClipFrame(vi_, run_.first_frame + frames_in_));
}

void MediaSink::PumpSound(double seconds) {
  // Reads the source until every track has passed `seconds` of the output
  // (and a second more, so the muxer interleaves without waiting).
  const auto behind = [&] {
    for (const auto& t : sound_)
      if (!t->done) return true;
    return false;
  };
  while (behind() && (sound_at_end_ || sound_reached_ < seconds + 1.0)) {
    const int err = av_read_frame(source_.get(), packet_.get());
    if (err < 0) {
      for (auto& t : sound_) {
        if (t->done) continue;
        if (t->plan.way == SoundWay::kEncode) {
          DecodeSound(*t, nullptr);
          if (!t->done) EncodeSound(*t, true);
        }
        t->done = true;
      }
      break;
    }
    for (auto& t : sound_) {
      if (t->in->index != packet_->stream_index || t->done) continue;
      if (packet_->pts != AV_NOPTS_VALUE) sound_reached_ = (packet_->pts - t->offset) * av_q2d(t->in->time_base);
      SoundPacket(*t, packet_.get());
    }
    av_packet_unref(packet_.get());
  }
}

void MediaSink::SoundPacket(SoundTrack& t, AVPacket* packet) {
  const AVRational samples{1, t.sample_rate};
  const int64_t at =
      packet->pts == AV_NOPTS_VALUE ? 0 : av_rescale_q(packet->pts - t.start_pts, t.in->time_base, samples);
  switch (t.plan.way) {
    case SoundWay::kCopy: {
      packet->pts = packet->pts == AV_NOPTS_VALUE ? packet->pts : packet->pts - t.offset;
      packet->dts = packet->dts == AV_NOPTS_VALUE ? packet->dts : packet->dts - t.offset;
      packet->pos = -1;
      Mux(packet, t.in->time_base, t.out);
      return;
    }
    case SoundWay::kCutPcm: {
      const int64_t count = t.frame_bytes > 0 ? packet->size / t.frame_bytes : 0;
      const int64_t from = std::max(at, t.begin), to = std::min(at + count, t.end);
      if (at + count >= t.end) t.done = true;
      if (to <= from) return;
      AVPacket* cut = av_packet_alloc();
      if (cut == nullptr || av_new_packet(cut, static_cast<int>((to - from) * t.frame_bytes)) < 0) {
        av_packet_free(&cut);
        throw ToolError(settings_.path + ": out of memory");
      }
      std::memcpy(cut->data, packet->data + (from - at) * t.frame_bytes, static_cast<size_t>(cut->size));
      cut->pts = cut->dts = from - t.begin;
      cut->duration = to - from;
      cut->flags = AV_PKT_FLAG_KEY;
      try {
        Mux(cut, samples, t.out);
      } catch (...) {
        av_packet_free(&cut);
        throw;
      }
      av_packet_free(&cut);
      return;
    }
    case SoundWay::kEncode: DecodeSound(t, packet); return;
  }
}

void MediaSink::DecodeSound(SoundTrack& t, const AVPacket* packet) {
  AVCodecContext* d = t.decoder.get();
  if (avcodec_send_packet(d, packet) < 0) return;  // a damaged packet: its sound is missing
  const AVRational samples{1, t.sample_rate};
  AVFrame* f = sound_frame_.get();
  while (avcodec_receive_frame(d, f) >= 0) {
    const int64_t pts = f->best_effort_timestamp;
    const int64_t at = pts == AV_NOPTS_VALUE ? 0 : av_rescale_q(pts - t.start_pts, t.in->time_base, samples);
    const int64_t from = std::max(at, t.begin), to = std::min<int64_t>(at + f->nb_samples, t.end);
    if (at + f->nb_samples >= t.end) t.done = true;
    if (to > from) {
      // The frame's samples from `from` on, into the encoder's format.
      const uint8_t* in[AV_NUM_DATA_POINTERS] = {};
      const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(f->format)) != 0;
      const int step =
          av_get_bytes_per_sample(static_cast<AVSampleFormat>(f->format)) * (planar ? 1 : f->ch_layout.nb_channels);
      for (int p = 0; p < (planar ? f->ch_layout.nb_channels : 1) && p < AV_NUM_DATA_POINTERS; ++p)
        in[p] = f->extended_data[p] + (from - at) * step;
      ConvertSound(t, in, static_cast<int>(to - from));
    }
    av_frame_unref(f);
    if (t.done) {
      EncodeSound(t, true);
      return;
    }
  }
  EncodeSound(t, false);
}

void MediaSink::ConvertSound(SoundTrack& t, const uint8_t** in, int count) {
  const int want = swr_get_out_samples(t.resampler.get(), count);
  uint8_t** out = nullptr;
  if (av_samples_alloc_array_and_samples(&out, nullptr, t.encoder->ch_layout.nb_channels, want, t.encoder->sample_fmt,
                                         0) < 0)
    throw ToolError(settings_.path + ": out of memory");
  const int got = swr_convert(t.resampler.get(), out, want, in, count);
  if (got > 0) av_audio_fifo_write(t.fifo, reinterpret_cast<void**>(out), got);
  av_freep(&out[0]);
  av_freep(&out);
}

void MediaSink::EncodeSound(SoundTrack& t, bool last) {
  AVCodecContext* e = t.encoder.get();
  if (last) {
    // What the resampler still holds.
    uint8_t** out = nullptr;
    const int want = swr_get_out_samples(t.resampler.get(), 0);
    if (want > 0 &&
        av_samples_alloc_array_and_samples(&out, nullptr, e->ch_layout.nb_channels, want, e->sample_fmt, 0) >= 0) {
      const int got = swr_convert(t.resampler.get(), out, want, nullptr, 0);
      if (got > 0) av_audio_fifo_write(t.fifo, reinterpret_cast<void**>(out), got);
      av_freep(&out[0]);
      av_freep(&out);
    }
  }
  const int size = e->frame_size > 0 ? e->frame_size : 1024;
  AVFrame* f = sound_frame_.get();
  while (av_audio_fifo_size(t.fifo) >= size || (last && av_audio_fifo_size(t.fifo) > 0)) {
    f->nb_samples = std::min(size, av_audio_fifo_size(t.fifo));
    f->format = e->sample_fmt;
    f->sample_rate = e->sample_rate;
    av_channel_layout_copy(&f->ch_layout, &e->ch_layout);
    if (av_frame_get_buffer(f, 0) < 0) throw ToolError(settings_.path + ": out of memory");
    av_audio_fifo_read(t.fifo, reinterpret_cast<void**>(f->data), f->nb_samples);
    f->pts = t.lead + t.written;
    t.written += f->nb_samples;
    const int err = avcodec_send_frame(e, f);
    av_frame_unref(f);
    if (err < 0) Fail("the sound encoder failed", err);
    while (avcodec_receive_packet(e, packet_.get()) >= 0) Mux(packet_.get(), e->time_base, t.out);
  }
  if (last) {
    avcodec_send_frame(e, nullptr);
    while (avcodec_receive_packet(e, packet_.get()) >= 0) Mux(packet_.get(), e->time_base, t.out);
  }
}

void MediaSink::Finish() {
  Encode(nullptr);
  sound_at_end_ = true;
  if (!sound_.empty()) PumpSound(1e18);
  if (clip_sound_) PullClipSound(clip_sound_->end);
  if (const int err = av_write_trailer(mux_); err < 0) Fail("cannot finish the container", err);
  avio_flush(io_);
  if (io_->error < 0) Fail("cannot write", io_->error);
  out_->Commit();
}

void MediaSink::Abandon() {
  // The temporary file goes with the output stream.
}

}  // namespace

bool IsMediaPath(const std::string& path) {
  const AVOutputFormat* f = ContainerFor(path);
  return f != nullptr && (f->flags & AVFMT_NOFILE) == 0 && f->video_codec != AV_CODEC_ID_NONE;
}

MediaSettings CheckMediaSettings(const std::string& path, const std::string& codec, const std::string& options,
                                 const std::string& audio_codec) {
  KeepMediaLogQuiet();
  const AVOutputFormat* container = ContainerFor(path);
  if (container == nullptr || !IsMediaPath(path))
    throw UsageError(path + ": no video container of FFmpeg's has this extension");
  MediaSettings s{path, container->name, codec, options, audio_codec};
  if (!audio_codec.empty()) {
    const AVCodec* sound = avcodec_find_encoder_by_name(audio_codec.c_str());
    if (sound == nullptr || sound->type != AVMEDIA_TYPE_AUDIO)
      throw UsageError("--audio-codec " + audio_codec +
                       ": this FFmpeg has no sound encoder of that name "
                       "(ffmpeg -encoders lists them)");
    if (avformat_query_codec(container, sound->id, FF_COMPLIANCE_NORMAL) == 0)
      throw UsageError(path + ": the " + container->name + " container cannot hold " + sound->name +
                       " sound: give another --audio-codec, or another extension");
  }
  const ContainerDefault* d = DefaultOf(container);
  if (s.codec.empty()) {
    if (d != nullptr) {
      s.codec = d->codec;
    } else if (const AVCodec* own = avcodec_find_encoder(container->video_codec)) {
      s.codec = own->name;
    } else {
      throw UsageError(path + ": this FFmpeg has no encoder for the " + container->name + " container: give --codec");
    }
  }
  const AVCodec* encoder = VideoEncoder(s.codec);
  if (encoder == nullptr)
    throw UsageError("--codec " + s.codec +
                     ": this FFmpeg has no video encoder of that name (ffmpeg "
                     "-encoders lists them)");
  if (avformat_query_codec(container, encoder->id, FF_COMPLIANCE_NORMAL) == 0)
    throw UsageError(path + ": the " + container->name + " container cannot hold " + encoder->name +
                     " video: give another --codec, or another extension");
  if (d != nullptr && s.codec == d->codec) s.options = Joined(d->options, options);

  Dictionary dict;
  if (!ParseOptions(options, dict.out()))
    throw UsageError("--codec-options \"" + options + "\": give key=value pairs separated by ':'");
  // Each option set on a context of the encoder: its name and the type of
  // its value are checked here, the rest when the encoder opens.
  CodecContext probe(avcodec_alloc_context3(encoder));
  if (probe.get() == nullptr) throw ToolError("out of memory");
  for (const AVDictionaryEntry* e = nullptr; (e = av_dict_get(dict.get(), "", e, AV_DICT_IGNORE_SUFFIX));) {
    const int err = av_opt_set(probe.get(), e->key, e->value, AV_OPT_SEARCH_CHILDREN);
    TakeMediaLogError();
    if (err == AVERROR_OPTION_NOT_FOUND)
      throw UsageError("--codec-options: " + s.codec + " has no option \"" + e->key +
                       "\" (ffmpeg -h encoder=" + s.codec + " lists them)");
    if (err < 0) throw UsageError("--codec-options: " + s.codec + " does not take " + e->key + "=" + e->value);
  }
  return s;
}

std::unique_ptr<FrameSink> OpenMediaSink(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run) {
  KeepMediaLogQuiet();
  return std::make_unique<MediaSink>(settings, vi, run);
}

std::string DescribeMediaOutput(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run) {
  KeepMediaLogQuiet();
  const std::optional<PixelFormat> f = DescribePixelType(vi.pixel_type);
  const AVPixelFormat clip = f ? ClipPixelFormat(*f) : AV_PIX_FMT_NONE;
  std::string line = settings.container + ", " + settings.codec;
  if (clip != AV_PIX_FMT_NONE) {
    AVPixelFormat to = EncoderPixelFormat(VideoEncoder(settings.codec), clip);
    Dictionary options;
    ParseOptions(settings.options, options.out());
    if (const AVDictionaryEntry* e = av_dict_get(options.get(), "pixel_format", nullptr, 0))
      to = av_get_pix_fmt(e->value);
    line += to == clip ? std::string(" in ") + av_get_pix_fmt_name(clip)
                       : std::string(", converted from ") + av_get_pix_fmt_name(clip) + " to " +
                             (to == AV_PIX_FMT_NONE ? "nothing it takes" : av_get_pix_fmt_name(to));
  }
  if (vi.HasAudio()) {
    const AVCodec* enc = ClipSoundEncoder(ContainerFor(settings.path), settings.audio_codec, vi.sample_type);
    line += std::string("; sound: the clip's own, ") + std::to_string(vi.audio_samples_per_second) + " Hz " +
            std::to_string(vi.nchannels) + " ch, encoded as " + (enc != nullptr ? enc->name : "nothing");
  }
  if (!run.source) return line;
  if (!vi.HasAudio()) {
    const InputFile source = OpenSource(run.source->path);
    const bool whole = run.first_frame == 0 && run.frames == vi.num_frames;
    const std::vector<SoundPlan> plans = PlanSound(source.get(), ContainerFor(settings.path), whole);
    for (const SoundPlan& p : plans) {
      line += "; sound " + std::to_string(p.input_index) + " (" + p.from + ") ";
      line += p.way == SoundWay::kCopy     ? "copied"
              : p.way == SoundWay::kCutPcm ? "cut at the samples"
                                           : "encoded as " + p.to;
    }
    if (plans.empty()) line += "; no sound";
  }
  if (const std::optional<std::string> tc = TimecodeAt(*run.source, vi, run.first_frame)) line += "; timecode " + *tc;
  return line;
}

}  // namespace tallyburn::tool
