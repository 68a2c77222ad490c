#include "tool/script/sources.h"

#include <filesystem>

#include "tool/script/inputs.h"
#include "tool/script/source_support.h"

namespace tallyburn::tool {
namespace {

// LoadPlugin(path). A library of the same file name as one already loaded
// is not loaded again, as in a frame server: a script written for one, with
// its plug-in folder in the path, runs unchanged on the plug-in the tool
// found.
AVSValue __cdecl LoadPluginFunction(AVSValue args, void*, IScriptEnvironment* env) {
  const std::string path = args[0].AsString("");
  auto& host = *static_cast<frameserver::Environment*>(env);
  const std::string name = std::filesystem::path(path).filename().string();
  for (const std::string& loaded : host.loaded_plugins())
    if (std::filesystem::path(loaded).filename().string() == name) return AVSValue();
  host.LoadPlugin(path);
  return AVSValue();
}

}  // namespace

void RegisterBuiltins(frameserver::Environment& env, ToolContext& context) {
  RegisterPatternSources(env, context);
  for (const InputKind& kind : InputKinds()) kind.register_function(env, context);
  RegisterSourceTimecode(env, context);
  env.AddFunction("LoadPlugin", "s", LoadPluginFunction, &context);
}

}  // namespace tallyburn::tool
