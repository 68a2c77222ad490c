#include "timecode/tallytc.h"

#include <string>

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
std::string ClipRate(const VideoInfo& vi) {
  char text[64];
  const double fps = vi.fps_denominator ? static_cast<double>(vi.fps_numerator) / vi.fps_denominator : 0.0;
  std::snprintf(text, sizeof text, "%.6g fps (%u/%u)", fps, vi.fps_numerator, vi.fps_denominator);
  return text;
}

}  // namespace

TallyTC::TallyTC(const PClip& source, const char* start, const char* rate_text, int drop, int scale, int align,
                 int margin, IScriptEnvironment* env)
    : GenericVideoFilter(source) {
  const tc::Rate* rate = nullptr;
  if (rate_text != nullptr && rate_text[0] != '\0') {
    uint64_t num = 0, den = 0;
    if (!tc::ParseRate(rate_text, &num, &den))
      env->ThrowError(
          "TallyTC: rate \"%s\" is not a frame rate: give a number such as \"25\" or \"29.97\", or a "
          "fraction such as \"30000/1001\"",
          rate_text);
    rate = tc::MatchRate(num, den);
    if (rate == nullptr)
      env->ThrowError("TallyTC: rate \"%s\" is not a timecode rate: %s", rate_text, RateList().c_str());
  } else {
    rate = tc::MatchRate(vi.fps_numerator, vi.fps_denominator);
    if (rate == nullptr)
      env->ThrowError(
          "TallyTC: the clip's rate, %s, is not a timecode rate: give the timecode rate with rate=, "
          "such as rate=\"25\" (%s)",
          ClipRate(vi).c_str(), RateList().c_str());
  }

  tc::Label label{};
  bool drop_separator = false;
  if (start == nullptr || !tc::ParseLabel(start, &label, &drop_separator))
    env->ThrowError(
        "TallyTC: start \"%s\" is not a timecode: give HH:MM:SS:FF, with ';' before the frames for "
        "drop-frame",
        start ? start : "");
  const bool want_drop = drop == 1 || (drop == -1 && (drop_separator || rate->drop_labels > 0));
  if (want_drop && rate->drop_labels == 0)
    env->ThrowError("TallyTC: drop-frame is not defined at %s fps%s", rate->name,
                    drop_separator && drop != 1 ? " (start has ';' before its frames)" : "");
  if (drop == 0 && drop_separator)
    env->ThrowError("TallyTC: start \"%s\" asks for drop-frame with ';', but drop=false", start);
  mode = tc::Mode{rate->base, want_drop ? rate->drop_labels : 0};
  if (const std::string why = tc::WhyInvalid(label, mode); !why.empty())
    env->ThrowError("TallyTC: start \"%s\" is not a label at %s %s: %s", start, rate->name,
                    want_drop ? "drop-frame" : "non-drop", why.c_str());
  start_index = tc::IndexOf(label, mode);

  box = SetUpTextBox("TallyTC", vi, rate->base > 99 ? 12 : 11, scale, align, margin, env);
}

PVideoFrame __stdcall TallyTC::GetFrame(int n, IScriptEnvironment* env) {
  PVideoFrame frame = child->GetFrame(n, env);
  env->MakeWritable(&frame);
  if (!box || frame->GetWritePtr() == nullptr) return frame;
  char text[tc::kMaxLabelText];
  tc::FormatLabel(tc::LabelAt(start_index + n, mode), mode, text);
  box->Paint(*frame.get(), text);
  return frame;
}

}  // namespace tallyburn
