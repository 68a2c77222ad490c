#include "filters/tallyid.h"

#include <optional>
#include <string>
#include <utility>

#include "core/message.h"

namespace tallyburn {

Plan TallyId::Make(const ClipShape& clip, int start, int align, int scale) {
  // Numbers are n + start for n from 0: with start at 0 or more they are
  // 32-bit unsigned values for any clip a host can hold.
  if (start < 0) return Plan::Refuse(Message("TallyId: start must be 0 or more, not %d", start));
  std::string error;
  std::optional<StripPainter> strip = SetUpStrip("TallyId", clip, scale, align, &error);
  if (!error.empty()) return Plan::Refuse(std::move(error));
  if (!strip) return Plan::PassThrough();
  return Plan::Draw(std::make_unique<TallyId>(start, std::move(*strip)));
}

TallyId::TallyId(int first, StripPainter painter) noexcept : start(first), strip(std::move(painter)) {}

void TallyId::Render(int n, const FrameView& frame) const noexcept {
  strip.Paint(frame, static_cast<uint32_t>(start) + static_cast<uint32_t>(n));
}

}  // namespace tallyburn
