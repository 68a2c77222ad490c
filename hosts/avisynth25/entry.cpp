// The door to the classic 2.5 C++ interface: the entry, one factory per
// function of the core's table, and a filter that hands the host's frames to
// the core's painter as frame views.
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "avisynth.h"
#include "filters/functions.h"
#include "sync/tally_sync.h"

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

// A planned filter in the host: frames of a format it draws are made
// writable and painted; the others come from the source untouched.
class Filter final : public GenericVideoFilter {
 public:
  Filter(const PClip& source, std::unique_ptr<const Painter> painter, const std::optional<PixelFormat>& format)
      : GenericVideoFilter(source), painter_(std::move(painter)), format_(format ? *format : PixelFormat{}) {}

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override {
    PVideoFrame frame = child->GetFrame(n, env);
    if (!painter_) return frame;
    env->MakeWritable(&frame);
    if (frame->GetWritePtr() == nullptr) return frame;
    painter_->Render(n, ViewOf(*frame.get()));
    return frame;
  }

 private:
  // Packed RGB lies bottom-up in memory: its view starts at the last line
  // and steps back.
  FrameView ViewOf(VideoFrame& frame) const noexcept {
    FrameView view{&format_, vi.width, vi.height, {}};
    static constexpr int kPlaneIds[3] = {PLANAR_Y, PLANAR_U, PLANAR_V};
    const int planes = format_.family == Family::kPlanarYuv || format_.family == Family::kPlanarRgb ? 3 : 1;
    for (int k = 0; k < planes; ++k) {
      uint8* const first = frame.GetWritePtr(kPlaneIds[k]);
      const ptrdiff_t pitch = frame.GetPitch(kPlaneIds[k]);
      view.planes[k] = format_.bottom_up() ? PlaneView{first + (frame.GetHeight(kPlaneIds[k]) - 1) * pitch, -pitch}
                                           : PlaneView{first, pitch};
    }
    return view;
  }

  std::unique_ptr<const Painter> painter_;
  PixelFormat format_;  // meaningful only with a painter
};

// The host's sample types as the marks' (one bit each in sample_type).
constexpr struct {
  int avisynth;
  sync::SampleType marks;
} kSampleTypes[] = {{VideoInfo::SAMPLE_INT8, sync::SampleType::kInt8},
                    {VideoInfo::SAMPLE_INT16, sync::SampleType::kInt16},
                    {VideoInfo::SAMPLE_INT24, sync::SampleType::kInt24},
                    {VideoInfo::SAMPLE_INT32, sync::SampleType::kInt32},
                    {VideoInfo::SAMPLE_FLOAT, sync::SampleType::kFloat}};

// A sound function's filter: the source's pictures, and marks for sound in
// the format planned (the source's, or 48 kHz stereo 16-bit where it had
// none).
class SoundFilter final : public GenericVideoFilter {
 public:
  SoundFilter(const PClip& source, const sync::SyncPlan& plan, int sample_type, sync::SampleType type)
      : GenericVideoFilter(source), marks_(plan), type_(type) {
    vi.audio_samples_per_second = plan.rate;
    vi.nchannels = plan.channels;
    vi.num_audio_samples = plan.samples;
    vi.sample_type = sample_type;
  }

  void __stdcall GetAudio(void* buf, int64 start, int64 count, IScriptEnvironment* /*env*/) override {
    marks_.Fill(buf, start, count, type_);
  }

 private:
  sync::MarkGenerator marks_;
  sync::SampleType type_;
};

// The marks' request from the source: its rate, length and sound, if any.
sync::SyncRequest RequestOf(const VideoInfo& vi) noexcept {
  sync::SyncRequest r;
  r.fps_num = vi.fps_numerator;
  r.fps_den = vi.fps_denominator;
  r.num_frames = vi.num_frames;
  if (vi.HasAudio()) {
    r.rate = vi.audio_samples_per_second;
    r.channels = vi.nchannels;
    r.samples = vi.num_audio_samples;
  }
  return r;
}

AVSValue CreateSound(const Function& function, const PClip& source, const Args& values, IScriptEnvironment* env) {
  const VideoInfo& vi = source->GetVideoInfo();
  const sync::SyncPlanResult planned = function.sound(RequestOf(vi), values);
  if (!planned.plan) env->ThrowError("%s", planned.error.c_str());
  int sample_type = VideoInfo::SAMPLE_INT16;
  if (!planned.plan->new_sound) sample_type = vi.sample_type;
  for (const auto& [avisynth, marks] : kSampleTypes)
    if (avisynth == sample_type) return AVSValue(new SoundFilter(source, *planned.plan, sample_type, marks));
  env->ThrowError("%s: the clip's sound has a sample type this filter does not know (%d)", function.name,
                  vi.sample_type);
  return AVSValue();
}

ClipShape ShapeOf(const VideoInfo& vi) {
  return {vi.width, vi.height, vi.fps_numerator, vi.fps_denominator, vi.num_frames, DescribePixelType(vi.pixel_type)};
}

// Every factory goes through here, so every clip argument is settled with
// the host in one place. Values of the wrong type cannot come (the host
// checks the signature); absent ones take the table's defaults. A refusal
// goes to the host's ThrowError, which unwinds through here.
AVSValue Create(const Function& function, const AVSValue& args, IScriptEnvironment* env) {
  OwedClipReferences owed(args, env);
  const PClip source = args[0].AsClip();
  Args values(function);
  for (int k = 1; k < function.param_count; ++k) {
    const AVSValue& v = args[k];
    switch (function.params[k].type) {
      case ArgType::kInt:
        if (v.IsInt()) values.SetInt(k, v.AsInt());
        break;
      case ArgType::kBool:
        if (v.IsBool()) values.SetBool(k, v.AsBool());
        break;
      case ArgType::kString:
        if (v.IsString()) values.SetString(k, v.AsString());
        break;
      case ArgType::kFloat:
        if (v.IsFloat()) values.SetFloat(k, v.AsFloat());
        break;
      case ArgType::kClip: break;
    }
  }
  if (function.makes_sound()) {
    AVSValue filter = CreateSound(function, source, values, env);
    owed.Keep();
    return filter;
  }
  const VideoInfo& vi = source->GetVideoInfo();
  Plan plan = function.plan(ShapeOf(vi), values);
  if (plan.refused()) env->ThrowError("%s", plan.error.c_str());
  AVSValue filter(new Filter(source, std::move(plan.painter), DescribePixelType(vi.pixel_type)));
  owed.Keep();
  return filter;
}

// One apply function per entry of the table: the host passes no user data.
template <size_t K>
AVSValue __cdecl Apply(AVSValue args, void* /*user_data*/, IScriptEnvironment* env) {
  return Create(Functions()[K], args, env);
}

template <size_t... K>
constexpr std::array<ApplyFunc, kFunctionCount> ApplyFunctions(std::index_sequence<K...> /*unused*/) {
  return {&Apply<K>...};
}

}  // namespace
}  // namespace tallyburn

extern "C" __attribute__((visibility("default"))) const char* __stdcall AvisynthPluginInit2(IScriptEnvironment* env) {
  using namespace tallyburn;
  static constexpr std::array<ApplyFunc, kFunctionCount> kApply =
      ApplyFunctions(std::make_index_sequence<kFunctionCount>());
  for (size_t k = 0; k < kFunctionCount; ++k) {
    const Function& f = Functions()[k];
    env->AddFunction(f.name, env->SaveString(AvisynthSignature(f).c_str()), kApply[k], nullptr);
  }
  return nullptr;
}
