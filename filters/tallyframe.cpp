#include "filters/tallyframe.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "core/message.h"

namespace tallyburn {
namespace {

int DecimalDigits(uint64_t v) noexcept {
  int d = 1;
  while (v >= 10) {
    v /= 10;
    ++d;
  }
  return d;
}

uint64_t Magnitude(int64_t v) noexcept { return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

}  // namespace

int TallyFrame::FormatNumber(int64_t number, int pad, int width, char* out) noexcept {
  uint64_t m = Magnitude(number);
  const int shown = std::max(DecimalDigits(m), pad);
  const int length = shown + (number < 0 ? 1 : 0);
  // From the right: digits, then the sign, then blanks.
  int i = width - 1;
  for (int k = 0; k < shown && i >= 0; ++k, --i, m /= 10) out[i] = static_cast<char>('0' + m % 10);
  if (number < 0 && i >= 0) out[i--] = '-';
  for (; i >= 0; --i) out[i] = ' ';
  return length;
}

Plan TallyFrame::Make(const ClipShape& clip, int start, int pad, int scale, int align, int margin) {
  if (pad < 0 || pad > kMaxDigits)
    return Plan::Refuse(
        Message("TallyFrame: digits must be 0 (as many as the last number needs) to %d, not %d", kMaxDigits, pad));

  // Numbers are n + start without wrapping: the box holds the clip's first
  // and last, signs included.
  const int64_t first = start;
  const int64_t last = first + std::max(clip.num_frames, 1) - 1;
  const int digits = pad > 0 ? pad : DecimalDigits(Magnitude(last));
  char scratch[24];
  const int cells = std::max(FormatNumber(first, digits, 0, scratch), FormatNumber(last, digits, 0, scratch));

  std::string error;
  std::optional<TextBox> box = SetUpTextBox("TallyFrame", clip, cells, scale, align, margin, &error);
  if (!error.empty()) return Plan::Refuse(std::move(error));
  if (!box) return Plan::PassThrough();
  return Plan::Draw(std::make_unique<TallyFrame>(first, digits, cells, std::move(*box)));
}

TallyFrame::TallyFrame(int64_t first, int pad, int width, TextBox text_box) noexcept
    : start(first), digits(pad), cells(width), box(std::move(text_box)) {}

void TallyFrame::Render(int n, const FrameView& frame) const noexcept {
  char text[kMaxDigits + 12];
  FormatNumber(start + n, digits, cells, text);
  box.Paint(frame, text);
}

}  // namespace tallyburn
