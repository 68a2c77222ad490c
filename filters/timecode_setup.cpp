#include "filters/timecode_setup.h"

#include "core/message.h"

namespace tallyburn {
namespace {

std::string RateList() {
  std::string s;
  const auto rates = tc::Rates();
  for (size_t i = 0; i < rates.size(); ++i)
    s += (i == 0 ? "" : i + 1 == rates.size() ? " or " : ", ") + std::string(rates[i].name);
  return s;
}

std::string ClipRate(const ClipShape& clip) {
  const double fps = clip.fps_den ? static_cast<double>(clip.fps_num) / clip.fps_den : 0.0;
  return Message("%.6g fps (%u/%u)", fps, clip.fps_num, clip.fps_den);
}

}  // namespace

std::string SetUpTimecode(const char* filter, const char* start_name, const ClipShape& clip, const char* start,
                          const char* rate_text, int drop, TimecodeStart* out) {
  const tc::Rate* rate = nullptr;
  if (rate_text != nullptr && rate_text[0] != '\0') {
    uint64_t num = 0, den = 0;
    if (!tc::ParseRate(rate_text, &num, &den))
      return Message(
          "%s: rate \"%s\" is not a frame rate: give a number such as \"25\" or \"29.97\", or a fraction such as "
          "\"30000/1001\"",
          filter, rate_text);
    rate = tc::MatchRate(num, den);
    if (rate == nullptr)
      return Message("%s: rate \"%s\" is not a timecode rate: %s", filter, rate_text, RateList().c_str());
  } else {
    rate = tc::MatchRate(clip.fps_num, clip.fps_den);
    if (rate == nullptr)
      return Message(
          "%s: the clip's rate, %s, is not a timecode rate: give the timecode rate with rate=, such as rate=\"25\" "
          "(%s)",
          filter, ClipRate(clip).c_str(), RateList().c_str());
  }

  tc::Label label{};
  bool drop_separator = false;
  if (start == nullptr || !tc::ParseLabel(start, &label, &drop_separator))
    return Message("%s: %s \"%s\" is not a timecode: give HH:MM:SS:FF, with ';' before the frames for drop-frame",
                   filter, start_name, start ? start : "");
  const bool want_drop = drop == 1 || (drop == -1 && (drop_separator || rate->drop_labels > 0));
  if (want_drop && rate->drop_labels == 0)
    return Message("%s: drop-frame is not defined at %s fps%s", filter, rate->name,
                   drop_separator && drop != 1 ? Message(" (%s has ';' before its frames)", start_name).c_str() : "");
  if (drop == 0 && drop_separator)
    return Message("%s: %s \"%s\" asks for drop-frame with ';', but drop=false", filter, start_name, start);
  const tc::Mode mode{rate->base, want_drop ? rate->drop_labels : 0};
  if (const std::string why = tc::WhyInvalid(label, mode); !why.empty())
    return Message("%s: %s \"%s\" is not a label at %s %s: %s", filter, start_name, start, rate->name,
                   want_drop ? "drop-frame" : "non-drop", why.c_str());
  *out = TimecodeStart{mode, tc::IndexOf(label, mode)};
  return "";
}

}  // namespace tallyburn
