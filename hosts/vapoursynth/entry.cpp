// The door to VapourSynth's API (version 4): the entry registers the core's
// functions in the `tally` namespace; each call reads its arguments by name,
// refuses the clips only this host makes (variable format or size, half
// floats, no frame rate), plans, and returns either the source node itself
// (a format the filter does not draw) or a filter whose frames are copies
// of the source's, frame properties and all, painted by the core.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "VapourSynth4.h"
#include "core/message.h"
#include "filters/functions.h"
#include "sync/tally_sync.h"

namespace tallyburn {
namespace {

// VapourSynth's colour families as our table's: its planar RGB lies in R, G,
// B order, handed to the painters in the core's G, B, R (GetFrame).
constexpr struct {
  int color_family;
  Family family;
} kFamilies[] = {{cfGray, Family::kGrey}, {cfYUV, Family::kPlanarYuv}, {cfRGB, Family::kPlanarRgb}};

// Our table's entry for a constant format, or nothing for one we do not
// draw (9-bit or 32-bit integer samples, 4:1:0 or 4:4:0 chroma, ...).
std::optional<PixelFormat> TableFormat(const VSVideoFormat& f) noexcept {
  const bool drawn_depth = f.sampleType == stFloat ? f.bitsPerSample == 32 : f.bitsPerSample <= 16;
  if (!drawn_depth) return std::nullopt;
  for (const auto& [color_family, family] : kFamilies)
    if (color_family == f.colorFamily) return FindPixelFormat(family, f.bitsPerSample, f.subSamplingW, f.subSamplingH);
  return std::nullopt;
}

std::string FormatName(const VSVideoFormat& f, const VSAPI* vsapi) {
  char name[32] = {};
  return vsapi->getVideoFormatName(&f, name) ? name : "an unnamed format";
}

// Why the door cannot take this clip, in the words of the VapourSynth call
// ("Frame: ..."), or "" when it can.
std::string WhyNotTaken(const char* name, const VSVideoInfo& vi, VSCore* core, const VSAPI* vsapi) {
  if (vi.format.colorFamily == cfUndefined)
    return Message(
        "%s: the clip's format varies from frame to frame: give it one format first, such as with "
        "resize.Point(format=vs.YUV420P8)",
        name);
  if (vi.width == 0 || vi.height == 0)
    return Message(
        "%s: the clip's frame size varies from frame to frame: give it one size first, such as with "
        "resize.Point(width=1920, height=1080)",
        name);
  if (vi.format.sampleType == stFloat && vi.format.bitsPerSample == 16) {
    VSVideoFormat full{};
    const bool known = vsapi->queryVideoFormat(&full, vi.format.colorFamily, stFloat, 32, vi.format.subSamplingW,
                                               vi.format.subSamplingH, core) != 0;
    return Message(
        "%s: the clip is %s, half-float, which is not drawn: convert it to 32-bit float first, such as "
        "with resize.Point(format=vs.%s)",
        name, FormatName(vi.format, vsapi).c_str(), known ? FormatName(full, vsapi).c_str() : "RGBS");
  }
  return "";
}

// A function with a `rate` parameter takes the clip's own rate where it is
// not given: VapourSynth clips may have none, or one no timecode runs at.
bool UsesClipRate(const Function& function, const VSMap* in, const VSAPI* vsapi) {
  for (int k = 1; k < function.param_count; ++k)
    if (std::strcmp(function.params[k].name, "rate") == 0) return vsapi->mapNumElements(in, "rate") <= 0;
  return false;
}

// The core's messages begin with the AviSynth name ("TallyTC: "); in
// VapourSynth they begin with the function's own name there ("TC: "), as
// the host's own functions' messages do.
std::string InHostTerms(const Function& function, const std::string& message) {
  const size_t prefix = std::strlen(function.name);
  if (message.compare(0, prefix, function.name) == 0 && message.compare(prefix, 1, ":") == 0)
    return function.vs_name + message.substr(prefix);
  return message;
}

// Reads the call's arguments into `args` by name (absent ones keep the
// table's defaults), or returns the message for one this door refuses:
// integers beyond 32 bits, and a bool other than 0 and 1.
std::string ReadArguments(const Function& function, const VSMap* in, const VSAPI* vsapi, Args* args) {
  for (int k = 1; k < function.param_count; ++k) {
    const Param& p = function.params[k];
    int error = 0;
    if (p.type == ArgType::kString) {
      const char* value = vsapi->mapGetData(in, p.name, 0, &error);
      if (error == 0) args->SetString(k, value);
      continue;
    }
    if (p.type == ArgType::kFloat) {
      const double value = vsapi->mapGetFloat(in, p.name, 0, &error);
      if (error == 0) args->SetFloat(k, value);
      continue;
    }
    const int64_t value = vsapi->mapGetInt(in, p.name, 0, &error);
    if (error != 0) continue;
    if (p.type == ArgType::kBool) {
      if (value != 0 && value != 1)
        return Message("%s: %s must be 0 or 1 (False or True), not %lld", function.vs_name, p.name,
                       static_cast<long long>(value));
      args->SetBool(k, value == 1);
    } else {
      if (value < INT_MIN || value > INT_MAX)
        return Message("%s: %s must be from %d to %d, not %lld", function.vs_name, p.name, INT_MIN, INT_MAX,
                       static_cast<long long>(value));
      args->SetInt(k, static_cast<int>(value));
    }
  }
  return "";
}

// A planned filter: its source, its painter, and the frame view's layout.
struct Filter {
  VSNode* source;
  std::unique_ptr<const Painter> painter;
  PixelFormat format;
  int width;
  int height;
  int planes;
};

const VSFrame* VS_CC GetFrame(int n, int activation_reason, void* instance_data, void** /*frame_data*/,
                              VSFrameContext* frame_context, VSCore* core, const VSAPI* vsapi) noexcept {
  const Filter& filter = *static_cast<const Filter*>(instance_data);
  if (activation_reason == arInitial) {
    vsapi->requestFrameFilter(n, filter.source, frame_context);
    return nullptr;
  }
  if (activation_reason != arAllFramesReady) return nullptr;
  const VSFrame* source = vsapi->getFrameFilter(n, filter.source, frame_context);
  VSFrame* frame = vsapi->copyFrame(source, core);  // shares the planes and the properties until written
  int error = 0;
  const int64_t transfer = vsapi->mapGetInt(vsapi->getFramePropertiesRO(source), "_Transfer", 0, &error);
  vsapi->freeFrame(source);
  FrameView view{&filter.format, filter.width, filter.height, {}};
  view.transfer = error == 0 && transfer > 0 && transfer < 256 ? static_cast<int>(transfer) : 0;
  // The core's planar RGB is AviSynth's G, B, R; VapourSynth's is R, G, B.
  static constexpr int kRgbPlanes[3] = {1, 2, 0}, kPlanes[3] = {0, 1, 2};
  const int* order = filter.format.family == Family::kPlanarRgb ? kRgbPlanes : kPlanes;
  for (int k = 0; k < filter.planes; ++k)
    view.planes[k] = {vsapi->getWritePtr(frame, order[k]), vsapi->getStride(frame, order[k])};
  filter.painter->Render(n, view);
  return frame;
}

void VS_CC FreeFilter(void* instance_data, VSCore* /*core*/, const VSAPI* vsapi) noexcept {
  auto* filter = static_cast<Filter*>(instance_data);
  vsapi->freeNode(filter->source);
  delete filter;
}

// A sound function's node: marks in the planned format, VapourSynth's
// planar channels each a copy of the first.
struct SoundFilter {
  sync::MarkGenerator marks;
  sync::SampleType type;
  int shift;  // 24-bit samples lie in 32-bit containers, in the low bits
  VSAudioInfo info;
};

const VSFrame* VS_CC GetSoundFrame(int n, int activation_reason, void* instance_data, void** /*frame_data*/,
                                   VSFrameContext* /*frame_context*/, VSCore* core, const VSAPI* vsapi) noexcept {
  if (activation_reason != arInitial) return nullptr;
  const SoundFilter& f = *static_cast<const SoundFilter*>(instance_data);
  const int64_t start = static_cast<int64_t>(n) * VS_AUDIO_FRAME_SAMPLES;
  const int count = static_cast<int>(std::min<int64_t>(VS_AUDIO_FRAME_SAMPLES, f.info.numSamples - start));
  VSFrame* frame = vsapi->newAudioFrame(&f.info.format, count, nullptr, core);
  uint8_t* const first = vsapi->getWritePtr(frame, 0);
  f.marks.FillPlane(first, start, count, f.type);
  if (f.shift != 0) {
    auto* samples = reinterpret_cast<int32_t*>(first);
    for (int i = 0; i < count; ++i) samples[i] >>= f.shift;
  }
  const size_t bytes = static_cast<size_t>(count) * f.info.format.bytesPerSample;
  for (int c = 1; c < f.info.format.numChannels; ++c) std::memcpy(vsapi->getWritePtr(frame, c), first, bytes);
  return frame;
}

void VS_CC FreeSound(void* instance_data, VSCore* /*core*/, const VSAPI* /*vsapi*/) noexcept {
  delete static_cast<SoundFilter*>(instance_data);
}

// The marks' sample type for VapourSynth's format, or none for one they are
// not made in (16-bit float).
std::optional<sync::SampleType> MarksType(const VSAudioFormat& f) noexcept {
  if (f.sampleType == stFloat) return f.bitsPerSample == 32 ? std::optional(sync::SampleType::kFloat) : std::nullopt;
  if (f.bitsPerSample == 16) return sync::SampleType::kInt16;
  if (f.bitsPerSample <= 32 && f.bytesPerSample == 4) return sync::SampleType::kInt32;
  return std::nullopt;
}

// Sync(clip, audio=None, period, level): the video gives the rate and the
// length; `audio`, where given, the sound's format (its samples are not
// read); without it 48 kHz stereo 16-bit, as the AviSynth doors make.
std::string CreateSound(const Function& function, const VSMap* in, VSMap* out, VSNode* source, VSCore* core,
                        const VSAPI* vsapi) {
  const VSVideoInfo& vi = *vsapi->getVideoInfo(source);
  Args args(function);
  if (std::string error = ReadArguments(function, in, vsapi, &args); !error.empty()) return error;
  int error = 0;
  VSNode* const audio = vsapi->mapGetNode(in, "audio", 0, &error);
  VSAudioInfo info{};
  if (audio != nullptr) {
    info = *vsapi->getAudioInfo(audio);
    vsapi->freeNode(audio);
  }
  const bool rate_fits = vi.fpsNum > 0 && vi.fpsDen > 0 && vi.fpsNum <= UINT32_MAX && vi.fpsDen <= UINT32_MAX;
  sync::SyncRequest request;
  request.fps_num = rate_fits ? static_cast<uint32_t>(vi.fpsNum) : 0;
  request.fps_den = rate_fits ? static_cast<uint32_t>(vi.fpsDen) : 0;
  request.num_frames = vi.numFrames;
  if (audio != nullptr) {
    request.rate = info.sampleRate;
    request.channels = info.format.numChannels;
  }
  sync::SyncPlanResult planned = function.sound(request, args);
  if (!planned.plan) return InHostTerms(function, planned.error);
  sync::SyncPlan plan = *planned.plan;
  plan.samples = sync::SampleOfFrame(plan, vi.numFrames);  // the video's length, whatever the sound's
  if (audio == nullptr) {
    constexpr uint64_t kStereo = (uint64_t{1} << acFrontLeft) | (uint64_t{1} << acFrontRight);
    vsapi->queryAudioFormat(&info.format, stInteger, 16, kStereo, core);
  }
  const std::optional<sync::SampleType> type = MarksType(info.format);
  if (!type)
    return Message(
        "%s: the audio is %d-bit %s, which the marks are not made in: give 16, 24 or 32-bit integer or "
        "32-bit float audio",
        function.vs_name, info.format.bitsPerSample, info.format.sampleType == stFloat ? "float" : "integer");
  info.sampleRate = plan.rate;
  info.numSamples = plan.samples;
  const int shift = *type == sync::SampleType::kInt32 ? 32 - info.format.bitsPerSample : 0;
  auto filter = std::make_unique<SoundFilter>(SoundFilter{sync::MarkGenerator(plan), *type, shift, info});
  const VSAudioInfo& planned_info = filter->info;
  vsapi->createAudioFilter(out, function.vs_name, &planned_info, GetSoundFrame, FreeSound, fmParallel, nullptr, 0,
                           filter.release(), core);
  return "";
}

// Why the door refuses the call before planning, or "".
std::string WhyRefused(const Function& function, const VSMap* in, const VSVideoInfo& vi, VSCore* core,
                       const VSAPI* vsapi, Args* args) {
  std::string error = WhyNotTaken(function.vs_name, vi, core, vsapi);
  if (error.empty()) error = ReadArguments(function, in, vsapi, args);
  if (!error.empty() || !UsesClipRate(function, in, vsapi)) return error;
  if (vi.fpsNum <= 0 || vi.fpsDen <= 0)
    return Message(
        "%s: the clip has no frame rate (it varies from frame to frame): give the timecode rate with "
        "rate=, such as rate=\"25\", or give the clip one with std.AssumeFPS",
        function.vs_name);
  if (vi.fpsNum > UINT32_MAX || vi.fpsDen > UINT32_MAX)
    return Message(
        "%s: the clip's rate, %lld/%lld, is not a timecode rate: give the timecode rate with rate=, such "
        "as rate=\"25\"",
        function.vs_name, static_cast<long long>(vi.fpsNum), static_cast<long long>(vi.fpsDen));
  return "";
}

// Validates and plans: the source node itself for a format the filter does
// not draw, a new filter over it, or the message. `source` stays the
// caller's unless a filter took it over.
std::string Create(const Function& function, const VSMap* in, VSMap* out, VSNode* source, VSCore* core,
                   const VSAPI* vsapi, bool* taken) {
  const VSVideoInfo& vi = *vsapi->getVideoInfo(source);
  Args args(function);
  if (std::string error = WhyRefused(function, in, vi, core, vsapi, &args); !error.empty()) return error;
  const std::optional<PixelFormat> format = TableFormat(vi.format);
  // A clip's rate beyond 32 bits is refused above wherever it is used.
  const bool rate_fits = vi.fpsNum > 0 && vi.fpsDen > 0 && vi.fpsNum <= UINT32_MAX && vi.fpsDen <= UINT32_MAX;
  const ClipShape shape{vi.width,
                        vi.height,
                        rate_fits ? static_cast<uint32_t>(vi.fpsNum) : 0,
                        rate_fits ? static_cast<uint32_t>(vi.fpsDen) : 0,
                        vi.numFrames,
                        format};
  Plan plan = function.plan(shape, args);
  if (plan.refused()) return InHostTerms(function, plan.error);
  if (!plan.painter) {
    vsapi->mapSetNode(out, "clip", source, maReplace);
    return "";
  }
  auto filter = std::make_unique<Filter>(
      Filter{source, std::move(plan.painter), *format, vi.width, vi.height, SlotPlanes(*format)});
  const VSFilterDependency dependencies[] = {{source, rpStrictSpatial}};
  *taken = true;
  vsapi->createVideoFilter(out, function.vs_name, &vi, GetFrame, FreeFilter, fmParallel, dependencies, 1,
                           filter.release(), core);
  return "";
}

// The host calls this for every function; nothing may unwind into it.
void VS_CC Call(const VSMap* in, VSMap* out, void* user_data, VSCore* core, const VSAPI* vsapi) noexcept {
  const Function& function = *static_cast<const Function*>(user_data);
  VSNode* const source = vsapi->mapGetNode(in, "clip", 0, nullptr);
  bool taken = false;
  try {
    const std::string error = function.makes_sound() ? CreateSound(function, in, out, source, core, vsapi)
                                                     : Create(function, in, out, source, core, vsapi, &taken);
    if (!error.empty()) vsapi->mapSetError(out, error.c_str());
  } catch (const std::exception& e) {  // out of memory: the plans throw nothing else
    char text[128];
    std::snprintf(text, sizeof text, "%s: %s", function.vs_name,
                  dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory" : e.what());
    vsapi->mapSetError(out, text);
  }
  if (!taken) vsapi->freeNode(source);
}

}  // namespace
}  // namespace tallyburn

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin* plugin, const VSPLUGINAPI* vspapi) {
  using namespace tallyburn;
  vspapi->configPlugin("com.tallyburn.tally", "tally", "Frame numbers, SMPTE timecodes and frame codes burned in",
                       VS_MAKE_VERSION(TALLYBURN_VERSION_MAJOR, TALLYBURN_VERSION_MINOR), VAPOURSYNTH_API_VERSION, 0,
                       plugin);
  for (const Function& f : Functions()) {
    if (f.vs_name == nullptr) continue;
    vspapi->registerFunction(f.vs_name, VapourSynthSignature(f).c_str(),
                             f.makes_sound() ? "clip:anode;" : "clip:vnode;", Call, const_cast<Function*>(&f), plugin);
  }
}
