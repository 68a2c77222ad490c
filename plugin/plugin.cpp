// The library's one export and the factories behind the script functions.
#include <cstring>
#include <new>

#include "counter/tallyburn.h"
#include "counter/tallyframe.h"
#include "counter/tallyid.h"
#include "plugin/avisynth.h"
#include "timecode/frametc.h"
#include "timecode/tallytc.h"

namespace tallyburn {
namespace {

// AviSynth+ on Linux releases every clip argument of a 2.5 apply function
// one time too many. After the call it releases each clip in the argument
// array once more by hand: that makes up for a 2.5 plug-in's AVSValue, which
// never frees array elements, where the callee destroys by-value arguments
// (the Windows compilers). Under the Itanium ABI the caller destroys them,
// with the host's own deep-freeing AVSValue, so each clip ends up released
// once by each, and a filter's source is freed while the filter still holds
// it. The extra release comes only after a call that returns: after a
// constructor's ThrowError the host leaves the arguments alone.
//
// So when the host says it is AviSynth+ (VersionString(), e.g. "AviSynth+
// 3.7.5 (r4661, master, x86_64)"), every factory takes one reference on
// each clip argument, keeps it when it returns a filter (the host's extra
// release takes it back) and gives it back when construction fails. Hosts
// that count correctly, such as our own, are not charged.
bool HostReleasesClipArgumentsTwice(IScriptEnvironment* env) {
  if (!env->FunctionExists("VersionString")) return false;
  const AVSValue version = env->Invoke("VersionString", AVSValue(nullptr, 0));
  const char* text = version.AsString("");
  return std::strncmp(text, "AviSynth+", 9) == 0;
}

// One reference on each clip argument, owed to the host. Keep() leaves the
// references for the host's extra release; otherwise they are given back.
class OwedClipReferences {
 public:
  OwedClipReferences(const AVSValue& args, IScriptEnvironment* env) noexcept {
    if (!HostReleasesClipArgumentsTwice(env)) return;
    for (int i = 0; i < args.ArraySize() && count_ < kMaxClips; ++i)
      if (args[i].IsClip()) new (&slots_[count_++].clip) PClip(args[i].AsClip());
  }
  ~OwedClipReferences() {
    if (!kept_)
      for (int i = 0; i < count_; ++i) slots_[i].clip.~PClip();
  }
  OwedClipReferences(const OwedClipReferences&) = delete;
  OwedClipReferences& operator=(const OwedClipReferences&) = delete;

  void Keep() noexcept { kept_ = true; }

 private:
  // Our signatures take one clip; room for more costs nothing.
  static constexpr int kMaxClips = 8;
  // A slot is never destroyed by itself: a kept reference is the host's.
  union Slot {
    Slot() noexcept {}
    ~Slot() {}
    PClip clip;
  };
  Slot slots_[kMaxClips];
  int count_ = 0;
  bool kept_ = false;
};

// Every factory goes through here, so every clip argument is settled with
// the host in one place. `make` constructs the filter and may throw through
// ThrowError; the new-expression then frees the object, and its base
// releases the source clip.
template <typename Make>
AVSValue Construct(const AVSValue& args, IScriptEnvironment* env, Make make) {
  OwedClipReferences owed(args, env);
  AVSValue filter(make());
  owed.Keep();
  return filter;
}

// Argument array indices, in the order of the registered signatures.
enum TallyburnArg { kTallyburnClip, kTallyburnOffset, kTallyburnLeft };
enum FrameTCArg { kFrameTCClip, kFrameTCOffset, kFrameTCOrientation, kFrameTCY };
enum TallyTCArg {
  kTallyTCClip,
  kTallyTCStart,
  kTallyTCRate,
  kTallyTCDrop,
  kTallyTCScale,
  kTallyTCAlign,
  kTallyTCMargin
};
enum TallyFrameArg {
  kTallyFrameClip,
  kTallyFrameStart,
  kTallyFrameDigits,
  kTallyFrameScale,
  kTallyFrameAlign,
  kTallyFrameMargin
};

enum TallyIdArg { kTallyIdClip, kTallyIdStart, kTallyIdAlign, kTallyIdScale };

// Keypad positions the current filters default to: timecode bottom centre,
// frame number bottom right, frame code top centre.
constexpr int kBottomCentre = 2;
constexpr int kBottomRight = 3;
constexpr int kTopCentre = 8;

// An absent integer is 0.
AVSValue __cdecl CreateTallyburn(AVSValue args, void* /*user_data*/, IScriptEnvironment* env) {
  return Construct(args, env, [&] {
    return new Tallyburn(args[kTallyburnClip].AsClip(), args[kTallyburnOffset].AsInt(0), args[kTallyburnLeft].AsInt(0),
                         env);
  });
}

AVSValue __cdecl CreateFrameTC(AVSValue args, void* /*user_data*/, IScriptEnvironment* env) {
  return Construct(args, env, [&] {
    return new FrameTC(args[kFrameTCClip].AsClip(), args[kFrameTCOffset].AsInt(0), args[kFrameTCOrientation].AsInt(0),
                       args[kFrameTCY].AsInt(0), env);
  });
}

AVSValue __cdecl CreateTallyTC(AVSValue args, void* /*user_data*/, IScriptEnvironment* env) {
  const AVSValue& drop = args[kTallyTCDrop];
  return Construct(args, env, [&] {
    return new TallyTC(args[kTallyTCClip].AsClip(), args[kTallyTCStart].AsString("00:00:00:00"),
                       args[kTallyTCRate].AsString(""), drop.IsBool() ? int{drop.AsBool()} : -1,
                       args[kTallyTCScale].AsInt(0), args[kTallyTCAlign].AsInt(kBottomCentre),
                       args[kTallyTCMargin].AsInt(0), env);
  });
}

AVSValue __cdecl CreateTallyFrame(AVSValue args, void* /*user_data*/, IScriptEnvironment* env) {
  return Construct(args, env, [&] {
    return new TallyFrame(args[kTallyFrameClip].AsClip(), args[kTallyFrameStart].AsInt(0),
                          args[kTallyFrameDigits].AsInt(0), args[kTallyFrameScale].AsInt(0),
                          args[kTallyFrameAlign].AsInt(kBottomRight), args[kTallyFrameMargin].AsInt(0), env);
  });
}

AVSValue __cdecl CreateTallyId(AVSValue args, void* /*user_data*/, IScriptEnvironment* env) {
  return Construct(args, env, [&] {
    return new TallyId(args[kTallyIdClip].AsClip(), args[kTallyIdStart].AsInt(0), args[kTallyIdAlign].AsInt(kTopCentre),
                       args[kTallyIdScale].AsInt(0), env);
  });
}

struct Registration {
  const char* name;
  const char* params;
  ApplyFunc apply;
};

constexpr Registration kFunctions[] = {
    {"Tallyburn", "c[offset]i[left]i", CreateTallyburn},
    {"FrameTC", "c[offset]i[orientation]i[y]i", CreateFrameTC},
    {"TallyTC", "c[start]s[rate]s[drop]b[scale]i[align]i[margin]i", CreateTallyTC},
    {"TallyFrame", "c[start]i[digits]i[scale]i[align]i[margin]i", CreateTallyFrame},
    {"TallyId", "c[start]i[align]i[scale]i", CreateTallyId},
};

}  // namespace
}  // namespace tallyburn

extern "C" __attribute__((visibility("default"))) const char* __stdcall AvisynthPluginInit2(IScriptEnvironment* env) {
  for (const auto& f : tallyburn::kFunctions) env->AddFunction(f.name, f.params, f.apply, nullptr);
  return nullptr;
}
