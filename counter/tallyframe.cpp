#include "counter/tallyframe.h"

#include <algorithm>

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

TallyFrame::TallyFrame(const PClip& source, int first, int pad, int scale, int align, int margin,
                       IScriptEnvironment* env)
    : GenericVideoFilter(source), start(first) {
  if (pad < 0 || pad > kMaxDigits)
    env->ThrowError("TallyFrame: digits must be 0 (as many as the last number needs) to %d, not %d", kMaxDigits, pad);

  // Numbers are n + start without wrapping: the box holds the clip's first
  // and last, signs included.
  const int64_t last = start + std::max(vi.num_frames, 1) - 1;
  digits = pad > 0 ? pad : DecimalDigits(Magnitude(last));
  char scratch[24];
  cells = std::max(FormatNumber(start, digits, 0, scratch), FormatNumber(last, digits, 0, scratch));

  box = SetUpTextBox("TallyFrame", vi, cells, scale, align, margin, env);
}

PVideoFrame __stdcall TallyFrame::GetFrame(int n, IScriptEnvironment* env) {
  PVideoFrame frame = child->GetFrame(n, env);
  env->MakeWritable(&frame);
  if (!box || frame->GetWritePtr() == nullptr) return frame;
  char text[kMaxDigits + 12];
  FormatNumber(start + n, digits, cells, text);
  box->Paint(*frame.get(), text);
  return frame;
}

}  // namespace tallyburn
