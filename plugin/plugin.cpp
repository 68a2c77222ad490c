// The library's one export and the two factories behind the script
// functions.
#include "counter/tallyburn.h"
#include "plugin/avisynth.h"
#include "timecode/frametc.h"

namespace tallyburn {
namespace {

// Argument array indices, in the order of the registered signatures.
enum TallyburnArg { kTallyburnClip, kTallyburnOffset, kTallyburnLeft };
enum FrameTCArg { kFrameTCClip, kFrameTCOffset, kFrameTCOrientation, kFrameTCY };

// An absent integer is 0. A constructor that refuses its arguments throws
// through ThrowError; the new-expression then frees the object, and its
// base releases the source clip.
AVSValue __cdecl CreateTallyburn(AVSValue args, void* /*user_data*/, IScriptEnvironment* env) {
  return new Tallyburn(args[kTallyburnClip].AsClip(), args[kTallyburnOffset].AsInt(0), args[kTallyburnLeft].AsInt(0),
                       env);
}

AVSValue __cdecl CreateFrameTC(AVSValue args, void* /*user_data*/, IScriptEnvironment* env) {
  return new FrameTC(args[kFrameTCClip].AsClip(), args[kFrameTCOffset].AsInt(0), args[kFrameTCOrientation].AsInt(0),
                     args[kFrameTCY].AsInt(0), env);
}

struct Registration {
  const char* name;
  const char* params;
  ApplyFunc apply;
};

constexpr Registration kFunctions[] = {
    {"Tallyburn", "c[offset]i[left]i", CreateTallyburn},
    {"FrameTC", "c[offset]i[orientation]i[y]i", CreateFrameTC},
};

}  // namespace
}  // namespace tallyburn

extern "C" __attribute__((visibility("default"))) const char* __stdcall AvisynthPluginInit2(IScriptEnvironment* env) {
  for (const auto& f : tallyburn::kFunctions) env->AddFunction(f.name, f.params, f.apply, nullptr);
  return nullptr;
}
