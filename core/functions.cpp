#include "core/functions.h"

#include "counter/tallyburn.h"
#include "counter/tallyframe.h"
#include "counter/tallyid.h"
#include "timecode/frametc.h"
#include "timecode/tallytc.h"

namespace tallyburn {
namespace {

// Keypad positions the current filters default to: timecode bottom centre,
// frame number bottom right, frame code top centre.
constexpr int kBottomCentre = 2;
constexpr int kBottomRight = 3;
constexpr int kTopCentre = 8;

constexpr Param kClip{"clip", ArgType::kClip, 0, nullptr};
constexpr Param Int(const char* name, int def = 0) { return {name, ArgType::kInt, def, nullptr}; }

// Parameter indices, in the order of the table below.
Plan PlanTallyburn(const ClipShape& clip, const Args& a) { return Tallyburn::Make(clip, a.Int(1), a.Int(2)); }
Plan PlanFrameTC(const ClipShape& clip, const Args& a) { return FrameTC::Make(clip, a.Int(1), a.Int(2), a.Int(3)); }
Plan PlanTallyTC(const ClipShape& clip, const Args& a) {
  return TallyTC::Make(clip, a.String(1), a.String(2), a.Bool(3), a.Int(4), a.Int(5), a.Int(6));
}
Plan PlanTallyFrame(const ClipShape& clip, const Args& a) {
  return TallyFrame::Make(clip, a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5));
}
Plan PlanTallyId(const ClipShape& clip, const Args& a) { return TallyId::Make(clip, a.Int(1), a.Int(2), a.Int(3)); }

// The whole script vocabulary, in registration order. The classic pair has
// no VapourSynth name: its layouts are those of the classic AviSynth formats.
constexpr Function kFunctions[kFunctionCount] = {
    {"Tallyburn", nullptr, {kClip, Int("offset"), Int("left")}, 3, PlanTallyburn},
    {"FrameTC", nullptr, {kClip, Int("offset"), Int("orientation"), Int("y")}, 4, PlanFrameTC},
    {"TallyTC",
     "TC",
     {kClip,
      {"start", ArgType::kString, 0, "00:00:00:00"},
      {"rate", ArgType::kString, 0, ""},
      {"drop", ArgType::kBool, 0, nullptr},
      Int("scale"),
      Int("align", kBottomCentre),
      Int("margin")},
     7,
     PlanTallyTC},
    {"TallyFrame",
     "Frame",
     {kClip, Int("start"), Int("digits"), Int("scale"), Int("align", kBottomRight), Int("margin")},
     6,
     PlanTallyFrame},
    {"TallyId", "Id", {kClip, Int("start"), Int("align", kTopCentre), Int("scale")}, 4, PlanTallyId},
};

}  // namespace

int Args::Int(int k) const noexcept {
  return values_[k].present ? values_[k].integer : function_->params[k].int_default;
}

const char* Args::String(int k) const noexcept {
  return values_[k].present ? values_[k].string : function_->params[k].string_default;
}

std::span<const Function, kFunctionCount> Functions() noexcept { return kFunctions; }

std::string AvisynthSignature(const Function& function) {
  std::string s;
  for (int k = 0; k < function.param_count; ++k) {
    const Param& p = function.params[k];
    if (p.type != ArgType::kClip) s += std::string("[") + p.name + "]";
    s += "cibs"[static_cast<int>(p.type)];
  }
  return s;
}

std::string VapourSynthSignature(const Function& function) {
  static constexpr const char* kTypes[] = {"vnode", "int", "int", "data"};
  std::string s;
  for (int k = 0; k < function.param_count; ++k) {
    const Param& p = function.params[k];
    s += std::string(p.name) + ":" + kTypes[static_cast<int>(p.type)] + (p.type == ArgType::kClip ? ";" : ":opt;");
  }
  return s;
}

}  // namespace tallyburn
