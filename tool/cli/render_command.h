// `tallyburn [options] [SCRIPT | SCRIPT-FILE]`: the run of the render
// command, from its options (options.h) to the frames written.
#pragma once

namespace tallyburn::tool {

// Returns the exit status: 0 success, 1 a user error (the script, the
// input, the output), 2 a usage error.
int RunRender(int argc, char** argv);

}  // namespace tallyburn::tool
