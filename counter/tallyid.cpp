#include "counter/tallyid.h"

namespace tallyburn {

TallyId::TallyId(const PClip& source, int first, int align, int scale, IScriptEnvironment* env)
    : GenericVideoFilter(source), start(first) {
  // Numbers are n + start for n from 0: with start at 0 or more they are
  // 32-bit unsigned values for any clip a host can hold.
  if (start < 0) env->ThrowError("TallyId: start must be 0 or more, not %d", start);
  strip = SetUpStrip("TallyId", vi, scale, align, env);
}

PVideoFrame __stdcall TallyId::GetFrame(int n, IScriptEnvironment* env) {
  PVideoFrame frame = child->GetFrame(n, env);
  env->MakeWritable(&frame);
  if (!strip || frame->GetWritePtr() == nullptr) return frame;
  strip->Paint(*frame.get(), static_cast<uint32_t>(start) + static_cast<uint32_t>(n));
  return frame;
}

}  // namespace tallyburn
