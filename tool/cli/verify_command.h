// `tallyburn verify [options] [INPUT]`: the run of verify, from its options
// (options.h) to the reports written.
#pragma once

namespace tallyburn::tool {

// Returns the exit status: 0 every frame present once and in order, 1
// faults found, 2 could not run.
int RunVerify(int argc, char** argv);

}  // namespace tallyburn::tool
