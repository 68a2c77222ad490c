#include "tests/support/test_environment.h"

#include <strings.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace tallyburn::frameserver {
namespace {

// Drops one reference on `clip` through a handle that never took one: the
// extra release of a host that counts clip arguments wrong.
void ReleaseUnowned(IClip* clip) {
  // A PClip is the one pointer it holds.
  static_assert(sizeof(PClip) == sizeof(std::uintptr_t));
  const auto pointer = reinterpret_cast<std::uintptr_t>(clip);
  alignas(PClip) unsigned char storage[sizeof(PClip)];
  std::memcpy(storage, &pointer, sizeof pointer);
  std::launder(reinterpret_cast<PClip*>(storage))->~PClip();
}

bool IsVersionString(const char* name) { return strcasecmp(name, "VersionString") == 0; }

}  // namespace

bool __stdcall TestEnvironment::MakeWritable(PVideoFrame* pvf) {
  if (broken_make_writable_) return false;
  return Environment::MakeWritable(pvf);
}

bool __stdcall TestEnvironment::FunctionExists(const char* name) {
  return (!version_.empty() && IsVersionString(name)) || Environment::FunctionExists(name);
}

AVSValue __stdcall TestEnvironment::Invoke(const char* name, const AVSValue args, const char* const* arg_names) {
  if (!version_.empty() && IsVersionString(name)) return AVSValue(SaveString(version_.c_str()));
  return Environment::Invoke(name, args, arg_names);
}

void TestEnvironment::Returned(const std::vector<AVSValue>& arguments) {
  if (!releases_clip_arguments_twice_) return;
  for (const AVSValue& arg : arguments)
    if (arg.IsClip()) ReleaseUnowned(arg.AsClip().get());
}

}  // namespace tallyburn::frameserver
