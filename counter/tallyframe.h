// TallyFrame(clip, start, digits, scale, align, margin): burns n + start,
// zero-padded, in an opaque box scaled with the picture, into every format
// a host hands us.
#pragma once

#include <cstdint>
#include <optional>

#include "draw/text_box.h"
#include "plugin/avisynth.h"

namespace tallyburn {

class TallyFrame : public GenericVideoFilter {
 public:
  static constexpr int kMaxDigits = 10;

  TallyFrame(const PClip& source, int start, int digits, int scale, int align, int margin, IScriptEnvironment* env);

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override;

  // The text of `number`: its magnitude zero-padded to `digits`, a minus
  // before it when negative, right-aligned in `cells` characters (blank
  // before it). Numbers too long for the cells keep their last digits.
  // Returns the length the number needs.
  static int FormatNumber(int64_t number, int digits, int cells, char* out) noexcept;

 private:
  int64_t start = 0;
  int digits = 1;
  int cells = 1;
  std::optional<TextBox> box;  // none: a format we do not draw
};

}  // namespace tallyburn
