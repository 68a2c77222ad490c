#include "tool/media/media_timecode.h"

#include "timecode/timecode_engine.h"
#include "tool/media/ffmpeg.h"
#include "tool/media/media_log.h"

namespace tallyburn::tool {
namespace {

const char* TagOf(const AVDictionary* metadata) {
  const AVDictionaryEntry* e = av_dict_get(metadata, "timecode", nullptr, 0);
  return e != nullptr && e->value[0] != '\0' ? e->value : nullptr;
}

// Some writers put '.' or ',' before the frames of a drop-frame label.
std::string Normalised(std::string label) {
  if (label.size() >= 3) {
    char& separator = label[label.size() - 3];
    if (separator == '.' || separator == ',') separator = ';';
  }
  return label;
}

}  // namespace

std::optional<StartTimecode> ReadStartTimecode(const std::string& path, int video_stream) {
  KeepMediaLogQuiet();
  const ff::InputFormat file = OpenMediaFile(path);
  AVFormatContext* format = file.get();

  if (video_stream < 0 || video_stream >= static_cast<int>(format->nb_streams))
    video_stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVStream* video = video_stream >= 0 ? format->streams[video_stream] : nullptr;
  const char* tag = video != nullptr ? TagOf(video->metadata) : nullptr;
  const AVStream* track = nullptr;
  for (unsigned i = 0; tag == nullptr && i < format->nb_streams; ++i)
    if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_DATA &&
        (tag = TagOf(format->streams[i]->metadata)) != nullptr)
      track = format->streams[i];
  if (tag == nullptr) tag = TagOf(format->metadata);
  if (tag == nullptr) return std::nullopt;

  StartTimecode tc{Normalised(tag), 0, 0};
  AVRational rate{0, 0};
  if (track != nullptr) rate = track->avg_frame_rate;
  if (rate.num <= 0 && video != nullptr)
    rate = video->avg_frame_rate.num > 0 ? video->avg_frame_rate : video->r_frame_rate;
  if (rate.num > 0 && rate.den > 0) tc.rate_numerator = rate.num, tc.rate_denominator = rate.den;
  return tc;
}

std::optional<std::string> MoveTimecode(const std::string& start, uint32_t fps_numerator, uint32_t fps_denominator,
                                        int64_t frames) {
  tc::Label label{};
  bool drop = false;
  if (!tc::ParseLabel(start, &label, &drop)) return std::nullopt;
  const tc::Rate* rate = tc::MatchRate(fps_numerator, fps_denominator);
  if (rate == nullptr) return std::nullopt;
  const tc::Mode mode{rate->base, drop ? rate->drop_labels : 0};
  if (!tc::WhyInvalid(label, mode).empty()) return std::nullopt;
  char text[tc::kMaxLabelText];
  const int length = tc::FormatLabel(tc::LabelAt(tc::IndexOf(label, mode) + frames, mode), mode, text);
  return std::string(text, static_cast<size_t>(length));
}

}  // namespace tallyburn::tool
