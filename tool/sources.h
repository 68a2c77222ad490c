// The tool's built-in script functions: test sources, readers of video
// streams, and LoadPlugin.
#pragma once

#include "host/environment.h"
#include "tool/context.h"
#include "tool/source_stream.h"

namespace tallyburn::tool {

// Registers ColorBars, BlankClip, the sources of the table of inputs
// (Y4MSource, RawSource, MediaSource) and LoadPlugin, each
// with `context` (which must outlive the clips they make) as its user_data.
void RegisterBuiltins(host::Environment& env, ToolContext& context);

}  // namespace tallyburn::tool
