// The Windows host's sound, as Windows hosts hand it to a caller: loads
// AviSynth.dll, evaluates a script through its C interface and writes what
// avs_get_audio returns for each window asked for. The host's own probe
// shows only pictures.
//
// usage: sound_probe.exe AviSynth.dll SCRIPT [START COUNT]...
// stdout: "rate channels sample_type samples\n", then each window's bytes.
// The host's header uses Windows' types and malloc in its inline helpers.
#include <windows.h>

#include <cstdlib>

#define AVSC_NO_DECLSPEC
#include <avisynth_c.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

template <typename F>
bool Find(HMODULE library, const char* name, F* f) {
  FARPROC p = GetProcAddress(library, name);
  if (p == nullptr) {
    std::fprintf(stderr, "sound_probe: %s has no %s\n", "the host", name);
    return false;
  }
  std::memcpy(static_cast<void*>(f), &p, sizeof p);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (argc - 3) % 2 != 0) {
    std::fprintf(stderr, "usage: sound_probe.exe AviSynth.dll SCRIPT [START COUNT]...\n");
    return 2;
  }
  HMODULE library = LoadLibraryA(argv[1]);
  if (library == nullptr) {
    std::fprintf(stderr, "sound_probe: cannot load %s\n", argv[1]);
    return 2;
  }
  avs_create_script_environment_func create = nullptr;
  avs_invoke_func invoke = nullptr;
  avs_take_clip_func take = nullptr;
  avs_get_video_info_func info = nullptr;
  avs_get_audio_func audio = nullptr;
  avs_release_clip_func release_clip = nullptr;
  avs_release_value_func release_value = nullptr;
  if (!Find(library, "avs_create_script_environment", &create) || !Find(library, "avs_invoke", &invoke) ||
      !Find(library, "avs_take_clip", &take) || !Find(library, "avs_get_video_info", &info) ||
      !Find(library, "avs_get_audio", &audio) || !Find(library, "avs_release_clip", &release_clip) ||
      !Find(library, "avs_release_value", &release_value))
    return 2;
  AVS_ScriptEnvironment* env = create(AVISYNTH_INTERFACE_VERSION);
  if (env == nullptr) return 2;
  const AVS_Value v = invoke(env, "Eval", avs_new_value_string(argv[2]), nullptr);
  if (avs_is_error(v)) {
    std::printf("error: %s\n", avs_as_error(v));
    return 3;
  }
  if (!avs_is_clip(v)) return 2;
  AVS_Clip* clip = take(v, env);
  release_value(v);
  const AVS_VideoInfo* vi = info(clip);
  _setmode(_fileno(stdout), _O_BINARY);
  std::printf("%d %d %d %lld\n", vi->audio_samples_per_second, vi->nchannels, vi->sample_type,
              static_cast<long long>(vi->num_audio_samples));
  const size_t frame_bytes = static_cast<size_t>(avs_bytes_per_channel_sample(vi)) * vi->nchannels;
  for (int k = 3; k + 1 < argc; k += 2) {
    const long long start = std::atoll(argv[k]), count = std::atoll(argv[k + 1]);
    std::vector<unsigned char> buffer(static_cast<size_t>(count) * frame_bytes);
    audio(clip, buffer.data(), start, count);
    std::fwrite(buffer.data(), 1, buffer.size(), stdout);
  }
  std::fflush(stdout);
  release_clip(clip);
  return 0;
}
