// The tool's built-in script functions: test sources, readers of video
// streams, and LoadPlugin.
#pragma once

#include <optional>

#include "host/environment.h"
#include "tool/y4m.h"

namespace tallyburn::tool {

// Thrown by a streaming source asked for a frame past the end of a stream
// whose length it could not know: the end of the job, not an error.
struct EndOfStream {
  int frames;  // how many the stream held
};

// Registers ColorBars, BlankClip, Y4MSource, RawSource and LoadPlugin.
void RegisterBuiltins(host::Environment& env);

// Whether a live source reads a stream whose length is only known at its
// end (a pipe, with no length= given); its clip then says INT_MAX frames.
bool ReadsStreamOfUnknownLength();

// The chroma siting and aspect tags of the script's one YUV4MPEG2 input,
// for the output to keep; none when there is no such input or several.
std::optional<Y4mTags> TagsOfTheY4mInput();

}  // namespace tallyburn::tool
