// The two commands' options: what each one holds, its table (names, value,
// help) and the reading of a command line into it. The runs are in
// render_command.cpp and verify_command.cpp, the help in help.cpp.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "tool/cli/parse.h"
#include "tool/verify/verify.h"

namespace tallyburn::tool {

// `tallyburn [options] [SCRIPT | SCRIPT-FILE]`
struct RenderOptions {
  std::string script = "ColorBars().FrameTC(orientation=2).Tallyburn()";
  bool script_given = false;
  std::string output;
  bool raw = false;
  std::optional<int> first, last;  // frame range, inclusive
  bool single_frame = false;
  bool range_given = false;
  bool info = false;
  bool progress = false;  // by default: whether standard error is a terminal
  std::string plugin;
  std::string codec, codec_options, audio_codec;
  bool help = false, version = false;
};

// `tallyburn verify [options] [INPUT]`
struct VerifyCommand {
  VerifyOptions run;
  bool input_given = false;
  std::string json;
  std::string html;
  bool help = false;
};

const Grammar<RenderOptions>& RenderGrammar();
const Grammar<VerifyCommand>& VerifyGrammar();

// argv[0] is the command's name ("tallyburn", "verify"). Throws UsageError.
RenderOptions ParseRenderOptions(int argc, char** argv);
VerifyCommand ParseVerifyOptions(int argc, char** argv);

}  // namespace tallyburn::tool
