#include "tool/media/source_sound.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tool/media/io.h"
#include "tool/media/video_encoder.h"

namespace tallyburn::tool {
namespace {

bool IsPcm(AVCodecID id) {
  return std::strncmp(avcodec_get_name(id), "pcm_", 4) == 0 && av_get_exact_bits_per_sample(id) > 0;
}

// The container's own codec for a sound it cannot hold as it is.
const AVCodec* SoundEncoderFor(const AVOutputFormat* format, AVCodecID source, bool keep_codec) {
  if (keep_codec)
    if (const AVCodec* same = avcodec_find_encoder(source)) return same;
  return format->audio_codec != AV_CODEC_ID_NONE ? avcodec_find_encoder(format->audio_codec) : nullptr;
}

// The encoder's rate nearest the source's.
int NearestRate(const AVCodec* codec, int rate) {
  if (codec->supported_samplerates == nullptr) return rate;
  int best = codec->supported_samplerates[0];
  for (const int* r = codec->supported_samplerates; *r != 0; ++r)
    if (std::abs(*r - rate) < std::abs(best - rate)) best = *r;
  return best;
}

}  // namespace

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

// One sound stream on its way from the source to the output.
struct SourceSound::Track {
  SoundPlan plan;
  AVStream* in = nullptr;
  AVStream* out = nullptr;
  int64_t begin = 0, end = 0;  // the samples written, counted from the stream's first
  int64_t start_pts = 0;       // the stream's first timestamp
  int sample_rate = 0;
  bool done = false;
  // kCutPcm
  int frame_bytes = 0;  // one sample of every channel
  // kCopy: the source time of the output's first frame, in the stream's time base
  int64_t offset = 0;
  // kEncode
  ff::CodecContext decoder;
  std::unique_ptr<SoundEncoder> encoder;
};

SourceSound::SourceSound(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run,
                         AVFormatContext* source, const AVOutputFormat* container)
    : path_(settings.path), source_path_(run.source->path), container_(container), source_(source) {
  if (!packet_ || !frame_) throw ToolError(path_ + ": out of memory");
  const bool whole = run.first_frame == 0 && run.frames == vi.num_frames;
  const int index = run.source->stream_index;
  const AVStream* video =
      index >= 0 && index < static_cast<int>(source_->nb_streams) ? source_->streams[index] : nullptr;
  // The source time of the clip's frame 0: its video's first.
  const double zero =
      video != nullptr && video->start_time != AV_NOPTS_VALUE ? video->start_time * av_q2d(video->time_base) : 0.0;
  const double rate = av_q2d(FrameRateOf(vi));
  const double from = zero + run.first_frame / rate;
  const double to = zero + (static_cast<double>(run.first_frame) + run.frames) / rate;
  for (const SoundPlan& plan : PlanSound(source_, container_, whole)) tracks_.push_back(OpenTrack(plan, from, to));
  // Only the sound is read, from a little before the first sample written.
  for (unsigned i = 0; i < source_->nb_streams; ++i) source_->streams[i]->discard = AVDISCARD_ALL;
  for (const auto& t : tracks_) t->in->discard = AVDISCARD_DEFAULT;
  if (from > 0.5 && !tracks_.empty())
    av_seek_frame(source_, -1, std::llround((from - 0.5) * AV_TIME_BASE), AVSEEK_FLAG_BACKWARD);
}

SourceSound::~SourceSound() = default;

std::unique_ptr<SourceSound::Track> SourceSound::OpenTrack(const SoundPlan& plan, double from, double to) const {
  auto t = std::make_unique<Track>();
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
    OpenDecoder(*t);
    OpenEncoder(*t);
  }
  return t;
}

void SourceSound::OpenDecoder(Track& t) const {
  const AVCodecParameters* par = t.in->codecpar;
  const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
  t.decoder.reset(avcodec_alloc_context3(decoder));
  if (!t.decoder) throw ToolError(path_ + ": out of memory");
  avcodec_parameters_to_context(t.decoder.get(), par);
  t.decoder->pkt_timebase = t.in->time_base;
  if (const int err = avcodec_open2(t.decoder.get(), decoder, nullptr); err < 0)
    ThrowMediaError(path_, "cannot decode the sound of " + source_path_, err);
}

void SourceSound::OpenEncoder(Track& t) const {
  const AVCodecParameters* par = t.in->codecpar;
  const AVCodec* codec = t.plan.encoder;
  // The source's rate where it is the same codec, else one that keeps
  // speech and music clean.
  const int64_t bit_rate =
      par->codec_id == codec->id && par->bit_rate > 0 ? par->bit_rate : 96000 * std::min(par->ch_layout.nb_channels, 6);
  AVCodecContext* d = t.decoder.get();
  t.encoder = std::make_unique<SoundEncoder>(
      path_, container_,
      SoundEncoding{codec, NearestRate(codec, par->sample_rate), &par->ch_layout, bit_rate, &d->ch_layout,
                    d->sample_fmt, d->sample_rate, "the sound", "the sound of " + source_path_});
  // The rate may change; the cut is in the source's samples.
  t.encoder->set_lead(t.begin < 0 ? av_rescale(-t.begin, t.encoder->sample_rate(), t.sample_rate) : 0);
}

void SourceSound::AddStreams(Muxer& muxer) {
  for (auto& t : tracks_) {
    if (t->plan.way == SoundWay::kEncode) {
      t->out = t->encoder->AddStream(muxer);
    } else {
      t->out = muxer.AddStream();
      avcodec_parameters_copy(t->out->codecpar, t->in->codecpar);
      t->out->codecpar->codec_tag = 0;
      t->out->time_base = t->plan.way == SoundWay::kCutPcm ? AVRational{1, t->sample_rate} : t->in->time_base;
    }
    av_dict_copy(&t->out->metadata, t->in->metadata, 0);
  }
  muxer_ = &muxer;
}

void SourceSound::Pump(double seconds) {
  // Reads the source until every track has passed `seconds` of the output
  // (and a second more, so the muxer interleaves without waiting).
  const auto behind = [&] {
    for (const auto& t : tracks_)
      if (!t->done) return true;
    return false;
  };
  while (behind() && (at_end_ || reached_ < seconds + 1.0)) {
    const int err = av_read_frame(source_, packet_.get());
    if (err < 0) {
      for (auto& t : tracks_) {
        if (t->done) continue;
        if (t->plan.way == SoundWay::kEncode) {
          Decode(*t, nullptr);
          if (!t->done) t->encoder->Encode(true);
        }
        t->done = true;
      }
      break;
    }
    for (auto& t : tracks_) {
      if (t->in->index != packet_->stream_index || t->done) continue;
      if (packet_->pts != AV_NOPTS_VALUE) reached_ = (packet_->pts - t->offset) * av_q2d(t->in->time_base);
      Packet(*t, packet_.get());
    }
    av_packet_unref(packet_.get());
  }
}

void SourceSound::Finish() {
  at_end_ = true;
  Pump(1e18);
}

void SourceSound::Packet(Track& t, AVPacket* packet) {
  const AVRational samples{1, t.sample_rate};
  const int64_t at =
      packet->pts == AV_NOPTS_VALUE ? 0 : av_rescale_q(packet->pts - t.start_pts, t.in->time_base, samples);
  switch (t.plan.way) {
    case SoundWay::kCopy:
      packet->pts = packet->pts == AV_NOPTS_VALUE ? packet->pts : packet->pts - t.offset;
      packet->dts = packet->dts == AV_NOPTS_VALUE ? packet->dts : packet->dts - t.offset;
      packet->pos = -1;
      muxer_->Write(packet, t.in->time_base, t.out);
      return;
    case SoundWay::kCutPcm: CutPcm(t, packet, at); return;
    case SoundWay::kEncode: Decode(t, packet); return;
  }
}

void SourceSound::CutPcm(Track& t, const AVPacket* packet, int64_t at) {
  const int64_t count = t.frame_bytes > 0 ? packet->size / t.frame_bytes : 0;
  const int64_t from = std::max(at, t.begin), to = std::min(at + count, t.end);
  if (at + count >= t.end) t.done = true;
  if (to <= from) return;
  const ff::Packet cut(av_packet_alloc());
  if (!cut || av_new_packet(cut.get(), static_cast<int>((to - from) * t.frame_bytes)) < 0)
    throw ToolError(path_ + ": out of memory");
  std::memcpy(cut->data, packet->data + (from - at) * t.frame_bytes, static_cast<size_t>(cut->size));
  cut->pts = cut->dts = from - t.begin;
  cut->duration = to - from;
  cut->flags = AV_PKT_FLAG_KEY;
  muxer_->Write(cut.get(), AVRational{1, t.sample_rate}, t.out);
}

void SourceSound::Decode(Track& t, const AVPacket* packet) {
  AVCodecContext* d = t.decoder.get();
  if (avcodec_send_packet(d, packet) < 0) return;  // a damaged packet: its sound is missing
  const AVRational samples{1, t.sample_rate};
  AVFrame* f = frame_.get();
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
      t.encoder->Convert(in, static_cast<int>(to - from));
    }
    av_frame_unref(f);
    if (t.done) {
      t.encoder->Encode(true);
      return;
    }
  }
  t.encoder->Encode(false);
}

}  // namespace tallyburn::tool
