#include "tool/cli/cli.h"

#include <csignal>
#include <string>

#include "tool/cli/render_command.h"
#include "tool/cli/verify_command.h"
#include "tool/media/io.h"

namespace tallyburn::tool {

int RunTool(int argc, char** argv) {
  // A closed output pipe is reported as an error, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  // Ctrl-C (or a kill) leaves no temporary file behind, and the old output.
  RemoveTemporariesOnSignals();
  if (argc > 1 && std::string(argv[1]) == "verify") return RunVerify(argc - 1, argv + 1);
  return RunRender(argc, argv);
}

}  // namespace tallyburn::tool
