#include "tool/media/media_output.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>
#include <vector>

#include "core/pixel_format.h"
#include "tool/media/clip_sound.h"
#include "tool/media/ffmpeg.h"
#include "tool/media/media_log.h"
#include "tool/media/media_timecode.h"
#include "tool/media/muxer.h"
#include "tool/media/source_sound.h"
#include "tool/media/video_encoder.h"

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

const AVOutputFormat* ContainerFor(const std::string& path) { return av_guess_format(nullptr, path.c_str(), nullptr); }

const AVCodec* VideoEncoderNamed(const std::string& name) {
  const AVCodec* c = avcodec_find_encoder_by_name(name.c_str());
  return c != nullptr && c->type == AVMEDIA_TYPE_VIDEO ? c : nullptr;
}

std::string Joined(const std::string& a, const std::string& b) { return a.empty() ? b : b.empty() ? a : a + ":" + b; }

ff::InputFormat OpenSource(const std::string& path) {
  ff::InputFormat file = OpenMediaFile(path);
  if (const int err = avformat_find_stream_info(file.get(), nullptr); err < 0)
    ThrowMediaError(path, "cannot read", err);
  return file;
}

// The source's start timecode at the output's first frame.
std::optional<std::string> TimecodeAt(const MediaOrigin& source, const VideoInfo& vi, int first) {
  const std::optional<StartTimecode> start = ReadStartTimecode(source.path, source.stream_index);
  if (!start) return std::nullopt;
  return MoveTimecode(start->label, vi.fps_numerator, vi.fps_denominator, first);
}

// The clip's frames, and the source's sound or the clip's own, into a
// container: the encoders open first, so that every refusal leaves no file.
class MediaSink final : public FrameSink {
 public:
  MediaSink(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run);
  void Write(const VideoFrame& frame, int n) override;
  void Finish() override;
  void Abandon() override {}  // the temporary file goes with the muxer's output stream

 private:
  VideoInfo vi_;
  int first_frame_;
  ff::InputFormat source_;
  std::optional<VideoEncoder> video_;
  std::optional<SourceSound> source_sound_;
  std::optional<ClipSound> clip_sound_;
  std::optional<Muxer> muxer_;
};

MediaSink::MediaSink(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run)
    : vi_(vi), first_frame_(run.first_frame) {
  const std::optional<PixelFormat> f = DescribePixelType(vi.pixel_type);
  const AVPixelFormat clip =
      f && !(f->alpha && f->family != Family::kPackedRgb) ? ClipPixelFormat(*f) : AV_PIX_FMT_NONE;
  if (clip == AV_PIX_FMT_NONE)
    throw ToolError(settings.path + ": a clip in " + (f ? f->name : std::string("this format")) +
                    " cannot be encoded: media outputs take no alpha planes and no floating-point YUV (a .png output "
                    "takes it, without its alpha)");
  const AVOutputFormat* container = ContainerFor(settings.path);
  VideoSetup setup{settings.path, VideoEncoderNamed(settings.codec), settings.options, container,
                   nullptr,       run.y4m ? &*run.y4m : nullptr};
  std::optional<std::string> timecode;
  if (run.source) {
    source_ = OpenSource(run.source->path);
    const int index = run.source->stream_index;
    if (index >= 0 && index < static_cast<int>(source_->nb_streams))
      setup.source_video = source_->streams[index]->codecpar;
    timecode = TimecodeAt(*run.source, vi, run.first_frame);
  }
  video_.emplace(setup, vi, *f, clip);
  if (vi.HasAudio())
    clip_sound_.emplace(settings, vi, run, container);
  else if (source_)
    source_sound_.emplace(settings, vi, run, source_.get(), container);

  // Only now is the file made: every refusal above left nothing behind.
  muxer_.emplace(settings.path, container);
  AVStream* video = video_->AddStream(*muxer_);
  if (source_sound_) source_sound_->AddStreams(*muxer_);
  if (clip_sound_) clip_sound_->AddStream(*muxer_);
  if (timecode) muxer_->SetTimecode(*timecode, video);
  muxer_->WriteHeader();
}

void MediaSink::Write(const VideoFrame& frame, int) {
  video_->Write(frame);
  if (source_sound_) source_sound_->Pump(static_cast<double>(video_->frames()) / av_q2d(FrameRateOf(vi_)));
  if (clip_sound_) clip_sound_->Pull(SampleOfClipFrame(vi_, first_frame_ + video_->frames()), false);
}

void MediaSink::Finish() {
  video_->Flush();
  if (source_sound_) source_sound_->Finish();
  if (clip_sound_) clip_sound_->Pull(clip_sound_->end(), true);
  muxer_->Finish();
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
                       ": this FFmpeg has no sound encoder of that name (ffmpeg -encoders lists them)");
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
  const AVCodec* encoder = VideoEncoderNamed(s.codec);
  if (encoder == nullptr)
    throw UsageError("--codec " + s.codec +
                     ": this FFmpeg has no video encoder of that name (ffmpeg -encoders lists them)");
  if (avformat_query_codec(container, encoder->id, FF_COMPLIANCE_NORMAL) == 0)
    throw UsageError(path + ": the " + container->name + " container cannot hold " + encoder->name +
                     " video: give another --codec, or another extension");
  if (d != nullptr && s.codec == d->codec) s.options = Joined(d->options, options);

  ff::Dictionary dict;
  if (!ParseCodecOptions(options, dict))
    throw UsageError("--codec-options \"" + options + "\": give key=value pairs separated by ':'");
  // Each option set on a context of the encoder: its name and the type of
  // its value are checked here, the rest when the encoder opens.
  ff::CodecContext probe(avcodec_alloc_context3(encoder));
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
    AVPixelFormat to = EncoderPixelFormat(VideoEncoderNamed(settings.codec), clip);
    ff::Dictionary options;
    ParseCodecOptions(settings.options, options);
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
    const ff::InputFormat source = OpenSource(run.source->path);
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
