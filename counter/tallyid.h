// TallyId(clip, start, align, scale): burns n + start as a machine-readable
// strip (framecode/layout.h) that `tallyburn verify` reads back after
// encoding, scaling and playback, into every format a host hands us.
#pragma once

#include <optional>

#include "draw/strip.h"
#include "plugin/avisynth.h"

namespace tallyburn {

class TallyId : public GenericVideoFilter {
 public:
  TallyId(const PClip& source, int start, int align, int scale, IScriptEnvironment* env);

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override;

 private:
  int start = 0;
  std::optional<StripPainter> strip;  // none: a format we do not draw
};

}  // namespace tallyburn
