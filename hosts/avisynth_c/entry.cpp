// The door to AviSynth's C interface: plain C across the library boundary,
// so one GCC build serves hosts built by any compiler. The host's functions
// are looked up by name when the plug-in loads (the plug-in links against
// no host library); every clip, frame and value taken from the host is given
// back exactly once, and no exception leaves this file.
// Function types only, and no loader of the header's own: ours finds the
// host that loaded us.
#define AVSC_NO_DECLSPEC
#define EXTERNAL_AVS_C_API_LOADER
#include <avisynth_c.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "filters/functions.h"
#include "sync/tally_sync.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif

namespace tallyburn {
namespace {

// The host functions the door calls; all are in every host with the C
// interface of AviSynth 2.6 or later.
#define TALLYBURN_HOST_FUNCTIONS(X) \
  X(avs_add_function)               \
  X(avs_save_string)                \
  X(avs_take_clip)                  \
  X(avs_release_clip)               \
  X(avs_get_video_info)             \
  X(avs_new_c_filter)               \
  X(avs_set_to_clip)                \
  X(avs_copy_value)                 \
  X(avs_get_frame)                  \
  X(avs_make_writable)              \
  X(avs_get_write_ptr_p)            \
  X(avs_get_pitch_p)                \
  X(avs_get_height_p)               \
  X(avs_release_video_frame)

struct Host {
#define TALLYBURN_MEMBER(name) name##_func name = nullptr;
  TALLYBURN_HOST_FUNCTIONS(TALLYBURN_MEMBER)
#undef TALLYBURN_MEMBER
};

#if defined(_WIN32)
// Windows hosts are avisynth.dll, already loaded when it loads us.
void* HostSymbol(const char* name) noexcept {
  const HMODULE host = GetModuleHandleA("avisynth");
  return host ? reinterpret_cast<void*>(GetProcAddress(host, name)) : nullptr;
}
#else
// The host library is among the loaded objects (its name differs from host
// to host and version to version): the first one that has the C interface.
void* HostSymbol(const char* name) noexcept {
  struct Search {
    const char* name;
    void* found;
  } search{name, nullptr};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t /*size*/, void* data) -> int {
        auto* s = static_cast<Search*>(data);
        void* const object = dlopen(info->dlpi_name[0] != '\0' ? info->dlpi_name : nullptr, RTLD_LAZY | RTLD_NOLOAD);
        if (object == nullptr) return 0;
        s->found = dlsym(object, s->name);
        dlclose(object);  // the host keeps it loaded
        return s->found != nullptr ? 1 : 0;
      },
      &search);
  return search.found;
}
#endif

// Every function resolved, or null when the host lacks one of them.
const Host* ResolveHost() noexcept {
  static const Host* const host = [] {
    static Host h;
    bool complete = true;
#define TALLYBURN_RESOLVE(name)                                  \
  if (void* const p = HostSymbol(#name); p != nullptr)           \
    std::memcpy(static_cast<void*>(&h.name), &p, sizeof(void*)); \
  else                                                           \
    complete = false;
    TALLYBURN_HOST_FUNCTIONS(TALLYBURN_RESOLVE)
#undef TALLYBURN_RESOLVE
    return complete ? &h : nullptr;
  }();
  return host;
}

const Host& Api() noexcept { return *ResolveHost(); }

// Frame properties, in the hosts that have them (AviSynth+ 3.6 and later);
// null elsewhere, where frames carry none.
struct PropsHost {
  avs_get_frame_props_ro_func avs_get_frame_props_ro = nullptr;
  avs_prop_get_int_func avs_prop_get_int = nullptr;
};

const PropsHost& PropsApi() noexcept {
  static const PropsHost host = [] {
    PropsHost h;
    if (void* const p = HostSymbol("avs_get_frame_props_ro")) std::memcpy(&h.avs_get_frame_props_ro, &p, sizeof p);
    if (void* const p = HostSymbol("avs_prop_get_int")) std::memcpy(&h.avs_prop_get_int, &p, sizeof p);
    return h;
  }();
  return host;
}

// The frame's _Transfer (ITU-T H.273), or 0 where it has none.
int TransferOf(AVS_ScriptEnvironment* env, const AVS_VideoFrame* frame) noexcept {
  const PropsHost& api = PropsApi();
  if (api.avs_get_frame_props_ro == nullptr || api.avs_prop_get_int == nullptr) return 0;
  const AVS_Map* props = api.avs_get_frame_props_ro(env, frame);
  if (props == nullptr) return 0;
  int error = 0;
  const int64_t transfer = api.avs_prop_get_int(env, props, "_Transfer", 0, &error);
  return error == 0 && transfer > 0 && transfer < 256 ? static_cast<int>(transfer) : 0;
}

// What a sound filter keeps: the marks and the sample type it hands out.
struct SoundInstance {
  sync::MarkGenerator marks;
  sync::SampleType type;
};

// What a filter keeps: its painter and the format it paints.
struct Instance {
  std::unique_ptr<const Painter> painter;
  PixelFormat format;
};

// Packed RGB lies bottom-up in memory: its view starts at the last line and
// steps back.
FrameView ViewOf(AVS_VideoFrame* frame, const PixelFormat& format, const AVS_VideoInfo& vi) noexcept {
  const Host& api = Api();
  FrameView view{&format, vi.width, vi.height, {}};
  static constexpr int kPlanes[3] = {AVS_PLANAR_Y, AVS_PLANAR_U, AVS_PLANAR_V};
  for (int k = 0; k < SlotPlanes(format); ++k) {
    BYTE* const first = api.avs_get_write_ptr_p(frame, kPlanes[k]);
    const ptrdiff_t pitch = api.avs_get_pitch_p(frame, kPlanes[k]);
    view.planes[k] = format.bottom_up()
                         ? PlaneView{first + (api.avs_get_height_p(frame, kPlanes[k]) - 1) * pitch, -pitch}
                         : PlaneView{first, pitch};
  }
  return view;
}

AVS_VideoFrame* AVSC_CC GetFrame(AVS_FilterInfo* fi, int n) noexcept {
  const Host& api = Api();
  AVS_VideoFrame* frame = api.avs_get_frame(fi->child, n);
  if (frame == nullptr) return nullptr;  // the source's own error stands
  api.avs_make_writable(fi->env, &frame);
  if (api.avs_get_write_ptr_p(frame, AVS_PLANAR_Y) == nullptr) return frame;
  const auto* self = static_cast<const Instance*>(fi->user_data);
  FrameView view = ViewOf(frame, self->format, fi->vi);
  view.transfer = TransferOf(fi->env, frame);
  self->painter->Render(n, view);
  return frame;
}

// Our frames depend on n alone: any thread may ask for any frame.
int AVSC_CC SetCacheHints(AVS_FilterInfo* /*fi*/, int hints, int /*range*/) noexcept {
  return hints == AVS_CACHE_GET_MTMODE ? AVS_MT_NICE_FILTER : 0;
}

void AVSC_CC FreeFilter(AVS_FilterInfo* fi) noexcept {
  delete static_cast<Instance*>(fi->user_data);
  fi->user_data = nullptr;
}

// A sound function's filter: the source's pictures, the marks for sound.
AVS_VideoFrame* AVSC_CC GetSourceFrame(AVS_FilterInfo* fi, int n) noexcept { return Api().avs_get_frame(fi->child, n); }

int AVSC_CC GetMarks(AVS_FilterInfo* fi, void* buf, int64_t start, int64_t count) noexcept {
  const auto* self = static_cast<const SoundInstance*>(fi->user_data);
  self->marks.Fill(buf, start, count, self->type);
  return 0;
}

void AVSC_CC FreeSound(AVS_FilterInfo* fi) noexcept {
  delete static_cast<SoundInstance*>(fi->user_data);
  fi->user_data = nullptr;
}

// The host's sample types as the marks' (one bit each in sample_type).
constexpr struct {
  int avisynth;
  sync::SampleType marks;
} kSampleTypes[] = {{AVS_SAMPLE_INT8, sync::SampleType::kInt8},
                    {AVS_SAMPLE_INT16, sync::SampleType::kInt16},
                    {AVS_SAMPLE_INT24, sync::SampleType::kInt24},
                    {AVS_SAMPLE_INT32, sync::SampleType::kInt32},
                    {AVS_SAMPLE_FLOAT, sync::SampleType::kFloat}};

// A reference to a clip, given back when it goes.
class ClipRef {
 public:
  explicit ClipRef(AVS_Clip* clip) noexcept : clip_(clip) {}
  ~ClipRef() {
    if (clip_ != nullptr) Api().avs_release_clip(clip_);
  }
  ClipRef(const ClipRef&) = delete;
  ClipRef& operator=(const ClipRef&) = delete;
  AVS_Clip* get() const noexcept { return clip_; }

 private:
  AVS_Clip* clip_;
};

AVS_Value Refusal(AVS_ScriptEnvironment* env, const std::string& message) noexcept {
  return avs_new_value_error(Api().avs_save_string(env, message.c_str(), -1));
}

ClipShape ShapeOf(const AVS_VideoInfo& vi) {
  return {vi.width, vi.height, vi.fps_numerator, vi.fps_denominator, vi.num_frames, DescribePixelType(vi.pixel_type)};
}

AVS_Value CreateSound(const Function& function, AVS_ScriptEnvironment* env, const AVS_Value& source,
                      const AVS_VideoInfo& vi, const Args& values) {
  sync::SyncRequest request;
  request.fps_num = vi.fps_numerator;
  request.fps_den = vi.fps_denominator;
  request.num_frames = vi.num_frames;
  if (vi.audio_samples_per_second != 0) {
    request.rate = vi.audio_samples_per_second;
    request.channels = vi.nchannels;
    request.samples = vi.num_audio_samples;
  }
  const sync::SyncPlanResult planned = function.sound(request, values);
  if (!planned.plan) return Refusal(env, planned.error);
  const int sample_type = planned.plan->new_sound ? AVS_SAMPLE_INT16 : vi.sample_type;
  const auto* known = std::find_if(std::begin(kSampleTypes), std::end(kSampleTypes),
                                   [&](const auto& t) { return t.avisynth == sample_type; });
  if (known == std::end(kSampleTypes))
    return Refusal(env, std::string(function.name) + ": the clip's sound has a sample type this filter does not know");
  auto instance = std::make_unique<SoundInstance>(SoundInstance{sync::MarkGenerator(*planned.plan), known->marks});
  const Host& api = Api();
  AVS_FilterInfo* fi = nullptr;
  const ClipRef filter(api.avs_new_c_filter(env, &fi, source, 1));
  if (filter.get() == nullptr || fi == nullptr) return Refusal(env, std::string(function.name) + ": no filter");
  fi->vi.audio_samples_per_second = planned.plan->rate;
  fi->vi.nchannels = planned.plan->channels;
  fi->vi.num_audio_samples = planned.plan->samples;
  fi->vi.sample_type = sample_type;
  fi->user_data = instance.release();
  fi->get_frame = GetSourceFrame;
  fi->get_audio = GetMarks;
  fi->set_cache_hints = SetCacheHints;
  fi->free_filter = FreeSound;
  AVS_Value out = avs_void;
  api.avs_set_to_clip(&out, filter.get());
  return out;
}

// The host checked the arguments against the signature: a value is of its
// parameter's type or absent.
AVS_Value Create(const Function& function, AVS_ScriptEnvironment* env, AVS_Value args) {
  const Host& api = Api();
  const AVS_Value source = avs_array_elt(args, 0);
  AVS_VideoInfo vi{};
  {
    const ClipRef clip(api.avs_take_clip(source, env));
    if (clip.get() == nullptr) return Refusal(env, std::string(function.name) + ": no clip");
    vi = *api.avs_get_video_info(clip.get());
  }
  Args values(function);
  for (int k = 1; k < function.param_count; ++k) {
    const AVS_Value v = avs_array_elt(args, k);
    switch (function.params[k].type) {
      case ArgType::kInt:
        if (avs_is_int(v)) values.SetInt(k, avs_as_int(v));
        break;
      case ArgType::kBool:
        if (avs_is_bool(v)) values.SetBool(k, avs_as_bool(v) != 0);
        break;
      case ArgType::kString:
        if (avs_is_string(v)) values.SetString(k, avs_as_string(v));
        break;
      case ArgType::kFloat:
        if (avs_is_float(v)) values.SetFloat(k, avs_as_float(v));
        break;
      case ArgType::kClip: break;
    }
  }
  if (function.makes_sound()) return CreateSound(function, env, source, vi, values);
  const ClipShape shape = ShapeOf(vi);
  Plan plan = function.plan(shape, values);
  if (plan.refused()) return Refusal(env, plan.error);
  AVS_Value out = avs_void;
  if (!plan.painter) {  // passed through: the source itself
    api.avs_copy_value(&out, source);
    return out;
  }
  auto instance = std::make_unique<Instance>(Instance{std::move(plan.painter), *shape.format});
  AVS_FilterInfo* fi = nullptr;
  const ClipRef filter(api.avs_new_c_filter(env, &fi, source, 1));
  if (filter.get() == nullptr || fi == nullptr) return Refusal(env, std::string(function.name) + ": no filter");
  fi->user_data = instance.release();
  fi->get_frame = GetFrame;
  fi->set_cache_hints = SetCacheHints;
  fi->free_filter = FreeFilter;
  api.avs_set_to_clip(&out, filter.get());
  return out;
}

AVS_Value AVSC_CC Apply(AVS_ScriptEnvironment* env, AVS_Value args, void* user_data) noexcept {
  const Function& function = *static_cast<const Function*>(user_data);
  try {
    return Create(function, env, args);
  } catch (const std::bad_alloc&) {
    return Refusal(env, std::string(function.name) + ": not enough memory");
  } catch (...) {
    return avs_new_value_error("tallyburn: unexpected failure");
  }
}

}  // namespace
}  // namespace tallyburn

#if defined(_WIN32)
#define TALLYBURN_C_ENTRY extern "C" __declspec(dllexport)
#else
#define TALLYBURN_C_ENTRY extern "C" __attribute__((visibility("default")))
#endif

TALLYBURN_C_ENTRY const char* AVSC_CC avisynth_c_plugin_init(AVS_ScriptEnvironment* env) {
  using namespace tallyburn;
  if (ResolveHost() == nullptr) return "tallyburn: this host lacks functions of the AviSynth 2.6 C interface";
  try {
    for (const Function& f : Functions()) {
      const std::string signature = AvisynthSignature(f);
      Api().avs_add_function(env, f.name, Api().avs_save_string(env, signature.c_str(), -1), Apply,
                             const_cast<Function*>(&f));
    }
  } catch (...) {
    return "tallyburn: not enough memory to register its functions";
  }
  return "tallyburn";
}
