// The tallyburn command line.
#pragma once

namespace tallyburn::tool {

// Runs the tool; returns the exit status: 0 success, 1 a user error (the
// script, the input, the output), 2 a usage error.
int RunTool(int argc, char** argv);

}  // namespace tallyburn::tool
