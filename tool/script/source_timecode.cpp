// SourceTimecode(path): the start timecode a media file records, as a
// label for TallyTC's start.
#include "tool/media/media_timecode.h"
#include "tool/script/source_support.h"

namespace tallyburn::tool {
namespace {

AVSValue __cdecl SourceTimecodeFunction(AVSValue args, void* user_data, IScriptEnvironment* env) {
  const std::string path = args[0].AsString("");
  try {
    // Recorded as an input, so that no output of the run replaces it.
    ContextOf(user_data).AddInput(*InputStream::Open(path));
    const std::optional<StartTimecode> tc = ReadStartTimecode(path);
    if (!tc)
      Refuse(env, "SourceTimecode: " + path +
                      " has no timecode (no timecode track, and no timecode tag on its streams or the file)");
    return AVSValue(env->SaveString(tc->label.c_str()));
  } catch (const ToolError& e) {
    Refuse(env, std::string("SourceTimecode: ") + e.what());
  }
}

}  // namespace

void RegisterSourceTimecode(frameserver::Environment& env, ToolContext& context) {
  env.AddFunction("SourceTimecode", "s", SourceTimecodeFunction, &context);
}

}  // namespace tallyburn::tool
