// TallyTC(clip, start, rate, drop, scale, align, margin): burns the SMPTE
// timecode of every frame, at any broadcast rate, drop-frame or not, in an
// opaque box scaled with the picture, into every format a host hands us.
#pragma once

#include <optional>

#include "draw/text_box.h"
#include "plugin/avisynth.h"
#include "timecode/timecode_engine.h"

namespace tallyburn {

class TallyTC : public GenericVideoFilter {
 public:
  // `drop`: -1 absent (drop-frame where the rate has it, or where `start`
  // asks with ';'), 0 non-drop, 1 drop-frame.
  TallyTC(const PClip& source, const char* start, const char* rate, int drop, int scale, int align, int margin,
          IScriptEnvironment* env);

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override;

 private:
  tc::Mode mode{};
  int64_t start_index = 0;     // frame 0's place in the day
  std::optional<TextBox> box;  // none: a format we do not draw
};

}  // namespace tallyburn
