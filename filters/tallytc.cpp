#include "filters/tallytc.h"

#include <optional>
#include <string>
#include <utility>

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

// The clip's rate in a message: "12.5 fps (25/2)".
std::string ClipRate(const ClipShape& clip) {
  const double fps = clip.fps_den ? static_cast<double>(clip.fps_num) / clip.fps_den : 0.0;
  return Message("%.6g fps (%u/%u)", fps, clip.fps_num, clip.fps_den);
}

}  // namespace

Plan TallyTC::Make(const ClipShape& clip, const char* start, const char* rate_text, int drop, int scale, int align,
                   int margin) {
  const tc::Rate* rate = nullptr;
  if (rate_text != nullptr && rate_text[0] != '\0') {
    uint64_t num = 0, den = 0;
    if (!tc::ParseRate(rate_text, &num, &den))
      return Plan::Refuse(
          Message("TallyTC: rate \"%s\" is not a frame rate: give a number such as \"25\" or \"29.97\", or a "
                  "fraction such as \"30000/1001\"",
                  rate_text));
    rate = tc::MatchRate(num, den);
    if (rate == nullptr)
      return Plan::Refuse(Message("TallyTC: rate \"%s\" is not a timecode rate: %s", rate_text, RateList().c_str()));
  } else {
    rate = tc::MatchRate(clip.fps_num, clip.fps_den);
    if (rate == nullptr)
      return Plan::Refuse(
          Message("TallyTC: the clip's rate, %s, is not a timecode rate: give the timecode rate with rate=, "
                  "such as rate=\"25\" (%s)",
                  ClipRate(clip).c_str(), RateList().c_str()));
  }

  tc::Label label{};
  bool drop_separator = false;
  if (start == nullptr || !tc::ParseLabel(start, &label, &drop_separator))
    return Plan::Refuse(
        Message("TallyTC: start \"%s\" is not a timecode: give HH:MM:SS:FF, with ';' before the frames for "
                "drop-frame",
                start ? start : ""));
  const bool want_drop = drop == 1 || (drop == -1 && (drop_separator || rate->drop_labels > 0));
  if (want_drop && rate->drop_labels == 0)
    return Plan::Refuse(Message("TallyTC: drop-frame is not defined at %s fps%s", rate->name,
                                drop_separator && drop != 1 ? " (start has ';' before its frames)" : ""));
  if (drop == 0 && drop_separator)
    return Plan::Refuse(Message("TallyTC: start \"%s\" asks for drop-frame with ';', but drop=false", start));
  const tc::Mode mode{rate->base, want_drop ? rate->drop_labels : 0};
  if (const std::string why = tc::WhyInvalid(label, mode); !why.empty())
    return Plan::Refuse(Message("TallyTC: start \"%s\" is not a label at %s %s: %s", start, rate->name,
                                want_drop ? "drop-frame" : "non-drop", why.c_str()));
  const int64_t start_index = tc::IndexOf(label, mode);

  std::string error;
  std::optional<TextBox> box = SetUpTextBox("TallyTC", clip, rate->base > 99 ? 12 : 11, scale, align, margin, &error);
  if (!error.empty()) return Plan::Refuse(std::move(error));
  if (!box) return Plan::PassThrough();
  return Plan::Draw(std::make_unique<TallyTC>(mode, start_index, std::move(*box)));
}

TallyTC::TallyTC(tc::Mode timecode_mode, int64_t first, TextBox text_box) noexcept
    : mode(timecode_mode), start_index(first), box(std::move(text_box)) {}

void TallyTC::Render(int n, const FrameView& frame) const noexcept {
  char text[tc::kMaxLabelText];
  tc::FormatLabel(tc::LabelAt(start_index + n, mode), mode, text);
  box.Paint(frame, text);
}

}  // namespace tallyburn
