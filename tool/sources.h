// The tool's built-in script functions: test sources, readers of video
// streams, and LoadPlugin.
#pragma once

#include "host/environment.h"

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

}  // namespace tallyburn::tool
