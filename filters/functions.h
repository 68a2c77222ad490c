// The script functions, each described once: name, parameters with their
// types and defaults, and the plan behind it. Every door registers and reads
// its arguments from here, so the hosts' signatures cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/clip_shape.h"
#include "core/plan.h"
#include "sync/tally_sync.h"

namespace tallyburn {

// The first parameter of every function is its clip.
enum class ArgType : uint8_t { kClip, kInt, kBool, kString, kFloat };

struct Param {
  const char* name;
  ArgType type;
  int int_default;             // an absent integer
  const char* string_default;  // an absent string; an absent bool has no value of its own
  double float_default;        // an absent float
};

// TallyText's 14 and room to grow: the Args and every Function hold this many.
inline constexpr int kMaxParams = 16;

struct Function;

// The arguments of one call as a door read them: each one present or not,
// absent ones answering with the function's default.
class Args {
 public:
  explicit Args(const Function& function) noexcept : function_(&function) {}

  void SetInt(int k, int v) noexcept { values_[k] = {true, v, nullptr, 0}; }
  void SetBool(int k, bool v) noexcept { values_[k] = {true, v ? 1 : 0, nullptr, 0}; }
  void SetString(int k, const char* v) noexcept { values_[k] = {true, 0, v, 0}; }
  void SetFloat(int k, double v) noexcept { values_[k] = {true, 0, nullptr, v}; }

  int Int(int k) const noexcept;
  const char* String(int k) const noexcept;
  double Float(int k) const noexcept;
  // 1 true, 0 false, -1 absent.
  int Bool(int k) const noexcept { return values_[k].present ? values_[k].integer : -1; }

 private:
  struct Value {
    bool present;
    int integer;
    const char* string;  // the caller's, valid for the plan call
    double real;
  };
  const Function* function_;
  Value values_[kMaxParams] = {};
};

// A function is either a picture function, with a plan, or a sound
// function, whose picture passes through and whose sound it makes: the door
// fills the request with what it knows of the clip, the function adds its
// arguments and plans.
struct Function {
  const char* name;     // the AviSynth name, which every message begins with
  const char* vs_name;  // the name in VapourSynth's namespace, or null where it has none
  const char* summary;  // what it does, in one line of the tool's help
  Param params[kMaxParams];
  int param_count;
  Plan (*plan)(const ClipShape& clip, const Args& args);
  sync::SyncPlanResult (*sound)(sync::SyncRequest clip, const Args& args);

  bool makes_sound() const noexcept { return sound != nullptr; }
};

// In registration order: Tallyburn, FrameTC, TallyTC, TallyFrame, TallyId,
// TallySync, TallyText.
inline constexpr size_t kFunctionCount = 7;
std::span<const Function, kFunctionCount> Functions() noexcept;

// "c[offset]i[left]i": AviSynth's signature, the same in the 2.5 and the C
// interface.
std::string AvisynthSignature(const Function& function);
// "clip:vnode;offset:int:opt;left:int:opt;": VapourSynth's, where a bool is
// an int and a string is data. A sound function takes, after the clip, the
// sound whose format its own keeps: "audio:anode:opt;".
std::string VapourSynthSignature(const Function& function);

}  // namespace tallyburn
