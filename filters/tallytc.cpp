#include "filters/tallytc.h"

#include <optional>
#include <string>
#include <utility>

#include "filters/timecode_setup.h"

namespace tallyburn {

Plan TallyTC::Make(const ClipShape& clip, const char* start, const char* rate_text, int drop, int scale, int align,
                   int margin) {
  TimecodeStart tc_start{};
  if (std::string why = SetUpTimecode("TallyTC", "start", clip, start, rate_text, drop, &tc_start); !why.empty())
    return Plan::Refuse(std::move(why));
  const tc::Mode mode = tc_start.mode;
  const int64_t start_index = tc_start.start_index;

  std::string error;
  std::optional<TextBox> box = SetUpTextBox("TallyTC", clip, mode.base > 99 ? 12 : 11, scale, align, margin, &error);
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
