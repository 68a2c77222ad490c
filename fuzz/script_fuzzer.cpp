// The script parser and the argument binder, with the plug-in's and the
// tool's functions registered: any text either builds a clip or fails with
// a script error, whose message sends none of the script's bytes raw to a
// terminal.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/message.h"
#include "frameserver/environment.h"
#include "tool/media/io.h"
#include "tool/script/script.h"
#include "tool/script/sources.h"

using namespace tallyburn;

namespace {

// Loading libraries named by fuzzed text is not what is under test.
// ThrowError does not return; the returns are for the compiler.
AVSValue __cdecl NoLoadPlugin(AVSValue, void*, IScriptEnvironment* env) {
  env->ThrowError("LoadPlugin: disabled");
  return {};
}
// Nor are the files FFmpeg's demuxers would probe (tests/tool/media/media_test.cpp
// covers MediaSource).
AVSValue __cdecl NoMediaSource(AVSValue, void*, IScriptEnvironment* env) {
  env->ThrowError("MediaSource: disabled");
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Y4MSource("-") must not wait for a terminal.
  const int null = open("/dev/null", O_RDONLY);
  dup2(null, STDIN_FILENO);
  close(null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  frameserver::Environment env;
  tool::ToolContext context;
  tool::RegisterBuiltins(env, context);
  env.LoadPlugin(TALLYBURN_PLUGIN_PATH);
  env.AddFunction("LoadPlugin", "s", NoLoadPlugin, nullptr);
  env.AddFunction("MediaSource", "s[track]i[fps_num]i[fps_den]i", NoMediaSource, nullptr);
  try {
    const AVSValue v = tool::EvaluateScript(env, std::string(reinterpret_cast<const char*>(data), size));
    if (v.IsClip()) v.AsClip()->GetVideoInfo();
  } catch (const tool::ScriptError& e) {
    if (Printable(e.what()) != e.what()) __builtin_trap();
  } catch (const tool::ToolError& e) {
    if (Printable(e.what()) != e.what()) __builtin_trap();
  } catch (const frameserver::HostError&) {
  }
  return 0;
}
