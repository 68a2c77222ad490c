// The help of both commands, made from their tables: the options
// (options.cpp), the sources and outputs (tool/script/inputs.cpp,
// tool/media/outputs.cpp) and the plug-in's functions (filters/functions.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include <string>

#include "filters/functions.h"

namespace tallyburn::tool {

std::string RenderHelp();  // tallyburn --help
std::string VerifyHelp();  // tallyburn verify --help

// `TallyTC(clip, start="00:00:00:00", rate="", drop=auto, ...)`: each
// parameter with its default; a bool without one of its own is `auto`.
// Lines longer than `width` (counting a left `margin` the caller adds to
// the first) go on under the first parameter.
std::string FunctionSignature(const Function& function, size_t width = SIZE_MAX, size_t margin = 0);
// One parameter's default as the signature shows it: 0, "", auto, 1.0.
std::string DefaultText(const Param& param);

}  // namespace tallyburn::tool
