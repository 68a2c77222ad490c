// Scripts that every door of the AviSynth hosts must answer alike: each
// function with its defaults and with arguments, stacked into one picture
// per format, and the refusals of each.
#pragma once

#include <string>
#include <vector>

#include "core/pixel_format.h"

namespace tallyburn::testing {

// Every format of our table the host's sources make (all but I420).
std::vector<PixelFormat> HostFormats();

// c = bars of the format; then every function twice, stacked: the classic
// pair draws the classic formats and passes the rest through, the others
// draw everywhere. With `drawn` false, the same stack of the bare source.
std::string StackedCalls(const PixelFormat& format, bool drawn = true);

// Scripts that each fail with one of our messages or the host's type error.
std::vector<std::string> RefusedScripts();

// All of RefusedScripts in one script, whose error lists their messages.
std::string CollectedRefusals();

}  // namespace tallyburn::testing
