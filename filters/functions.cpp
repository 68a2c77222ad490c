#include "filters/functions.h"

#include "filters/frametc.h"
#include "filters/tallyburn.h"
#include "filters/tallyframe.h"
#include "filters/tallyid.h"
#include "filters/tallytc.h"
#include "filters/tallytext.h"

namespace tallyburn {
namespace {

// Keypad positions the current filters default to: timecode bottom centre,
// frame number bottom right, frame code top centre.
constexpr int kBottomCentre = 2;
constexpr int kBottomRight = 3;
constexpr int kTopCentre = 8;

constexpr Param kClip{"clip", ArgType::kClip, 0, nullptr, 0};
constexpr Param Int(const char* name, int def = 0) { return {name, ArgType::kInt, def, nullptr, 0}; }
constexpr Param Float(const char* name, double def) { return {name, ArgType::kFloat, 0, nullptr, def}; }
constexpr Param String(const char* name, const char* def) { return {name, ArgType::kString, 0, def, 0}; }

// TallyText's defaults: white text over a box of black at 75%, bottom
// centre inside the graphics-safe area, at the automatic size.
constexpr TextLook kTextLook{};

// TallySync's defaults: a mark a second, 12 dB below full scale.
constexpr double kSyncPeriod = 1.0;
constexpr double kSyncLevel = -12.0;

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
Plan PlanTallyText(const ClipShape& clip, const Args& a) {
  const TextLook look{a.Int(6), a.Int(7), a.Float(8), a.Int(9), a.Float(10), a.Int(11), a.Int(12)};
  return TallyText::Make(clip, a.String(1), a.Int(2), a.String(3), a.String(4), a.Bool(5), look, a.String(13));
}
sync::SyncPlanResult PlanTallySync(sync::SyncRequest clip, const Args& a) {
  clip.period = a.Float(1);
  clip.level = a.Float(2);
  return sync::PlanSync(clip);
}

// The whole script vocabulary, in registration order. The classic pair has
// no VapourSynth name: its layouts are those of the classic AviSynth formats.
constexpr Function kFunctions[kFunctionCount] = {
    {"Tallyburn",
     nullptr,
     "frame number + offset, bottom right (left=1: left)",
     {kClip, Int("offset"), Int("left")},
     3,
     PlanTallyburn,
     nullptr},
    {"FrameTC",
     nullptr,
     "HH:MM:SS:FF box; orientation 0 right, 1 left, 2 centre; raised y rows",
     {kClip, Int("offset"), Int("orientation"), Int("y")},
     4,
     PlanFrameTC,
     nullptr},
    {"TallyTC",
     "TC",
     "SMPTE timecode at any broadcast rate",
     {kClip,
      {"start", ArgType::kString, 0, "00:00:00:00", 0},
      {"rate", ArgType::kString, 0, "", 0},
      {"drop", ArgType::kBool, 0, nullptr, 0},
      Int("scale"),
      Int("align", kBottomCentre),
      Int("margin")},
     7,
     PlanTallyTC,
     nullptr},
    {"TallyFrame",
     "Frame",
     "frame number",
     {kClip, Int("start"), Int("digits"), Int("scale"), Int("align", kBottomRight), Int("margin")},
     6,
     PlanTallyFrame,
     nullptr},
    {"TallyId",
     "Id",
     "a strip tallyburn verify reads back: the frame number + start",
     {kClip, Int("start"), Int("align", kTopCentre), Int("scale")},
     4,
     PlanTallyId,
     nullptr},
    {"TallySync",
     "Sync",
     "sound only: a sync mark every period seconds at level dBFS",
     {kClip, Float("period", kSyncPeriod), Float("level", kSyncLevel)},
     3,
     nullptr,
     PlanTallySync},
    {"TallyText",
     "Text",
     "any text, with {frame} and {tc} filled per frame, in the smooth font",
     {kClip,
      String("text", ""),
      Int("start"),
      String("tc_start", "00:00:00:00"),
      String("rate", ""),
      {"drop", ArgType::kBool, 0, nullptr, 0},
      Int("size", kTextLook.size),
      Int("color", kTextLook.color),
      Float("opacity", kTextLook.opacity),
      Int("box_color", kTextLook.box_color),
      Float("box_opacity", kTextLook.box_opacity),
      Int("align", kTextLook.align),
      Int("margin", kTextLook.margin),
      String("white", "")},
     14,
     PlanTallyText,
     nullptr},
};

}  // namespace

int Args::Int(int k) const noexcept {
  return values_[k].present ? values_[k].integer : function_->params[k].int_default;
}

const char* Args::String(int k) const noexcept {
  return values_[k].present ? values_[k].string : function_->params[k].string_default;
}

double Args::Float(int k) const noexcept {
  return values_[k].present ? values_[k].real : function_->params[k].float_default;
}

std::span<const Function, kFunctionCount> Functions() noexcept { return kFunctions; }

std::string AvisynthSignature(const Function& function) {
  std::string s;
  for (int k = 0; k < function.param_count; ++k) {
    const Param& p = function.params[k];
    if (p.type != ArgType::kClip) s += std::string("[") + p.name + "]";
    s += "cibsf"[static_cast<int>(p.type)];
  }
  return s;
}

std::string VapourSynthSignature(const Function& function) {
  static constexpr const char* kTypes[] = {"vnode", "int", "int", "data", "float"};
  std::string s;
  for (int k = 0; k < function.param_count; ++k) {
    const Param& p = function.params[k];
    s += std::string(p.name) + ":" + kTypes[static_cast<int>(p.type)] + (p.type == ArgType::kClip ? ";" : ":opt;");
    if (p.type == ArgType::kClip && function.makes_sound()) s += "audio:anode:opt;";
  }
  return s;
}

}  // namespace tallyburn
