#include "tool/script/context.h"

#include <algorithm>

namespace tallyburn::tool {

void ToolContext::AddMedia(const MediaOrigin& media) { media_.push_back(media); }

std::optional<ToolContext::MediaOrigin> ToolContext::MediaToKeep() const {
  if (media_.size() != 1) return std::nullopt;
  return media_.front();
}

void ToolContext::RemoveStream(LiveStream* stream) {
  streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}

bool ToolContext::ReadsStreamOfUnknownLength() const {
  return std::any_of(streams_.begin(), streams_.end(), [](const LiveStream* s) { return s->unknown_length(); });
}

std::optional<Y4mTags> ToolContext::Y4mTagsToKeep() const {
  const Y4mHeader* only = nullptr;
  for (const LiveStream* s : streams_) {
    if (s->y4m_header() == nullptr) continue;
    if (only != nullptr) return std::nullopt;
    only = s->y4m_header();
  }
  if (only == nullptr) return std::nullopt;
  return Y4mTags{only->colour, only->aspect, only->extensions};
}

void ToolContext::CheckStreamEnds(IScriptEnvironment* env) const {
  for (LiveStream* s : streams_) s->CheckEnd(env);
  if (!cuts_.empty()) throw ToolError(cuts_.front());
}

}  // namespace tallyburn::tool
