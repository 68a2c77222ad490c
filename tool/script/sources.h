// The tool's built-in script functions: test sources, readers of video
// streams, and LoadPlugin.
#pragma once

#include "frameserver/environment.h"
#include "tool/script/context.h"
#include "tool/script/source_stream.h"

namespace tallyburn::tool {

// Registers ColorBars, BlankClip, the sources of the table of inputs
// (Y4MSource, RawSource, MediaSource) and LoadPlugin, each
// with `context` (which must outlive the clips they make) as its user_data.
void RegisterBuiltins(frameserver::Environment& env, ToolContext& context);

}  // namespace tallyburn::tool
