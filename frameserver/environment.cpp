#include "frameserver/environment.h"

#include <dlfcn.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

namespace tallyburn::frameserver {
namespace {

std::string Format(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n < 0) return fmt;
  std::string s(static_cast<size_t>(n), '\0');
  std::vsnprintf(s.data(), s.size() + 1, fmt, args);
  return s;
}

}  // namespace

Environment::Environment(FrameLayout layout) : pool_(layout) {}

Environment::~Environment() {
  for (auto it = at_exit_.rbegin(); it != at_exit_.rend(); ++it) it->first(it->second, this);
}

void Environment::LoadPlugin(const std::string& path) {
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) throw HostError("LoadPlugin: cannot load \"" + path + "\": " + dlerror());
  using Init = const char* (*)(IScriptEnvironment*);
  auto init = reinterpret_cast<Init>(dlsym(lib, "AvisynthPluginInit2"));
  if (init == nullptr) {
    dlclose(lib);
    throw HostError("LoadPlugin: \"" + path + "\" is not a plug-in: it has no AvisynthPluginInit2");
  }
  plugins_.push_back(path);
  init(this);
}

const Function* Environment::Find(const std::string& name) const {
  for (auto it = functions_.rbegin(); it != functions_.rend(); ++it)
    if (strcasecmp(it->name.c_str(), name.c_str()) == 0) return &*it;
  return nullptr;
}

AVSValue Environment::Call(const std::string& name, const std::vector<Argument>& args) {
  const Function* f = Find(name);
  if (f == nullptr) throw HostError("there is no function named \"" + name + "\"");
  const std::vector<AVSValue> bound = BindArguments(f->name, f->parsed, args);
  AVSValue result = f->apply(AVSValue(bound.data(), static_cast<int>(bound.size())), f->user_data, this);
  Returned(bound);
  return result;
}

PVideoFrame Environment::FetchFrame(const PClip& clip, int n) {
  PVideoFrame frame = clip->GetFrame(n, this);
  if (!frame) throw HostError("frame " + std::to_string(n) + ": the clip returned no frame");
  pool_.CheckGuards(frame.get(), n);
  return frame;
}

long __stdcall Environment::GetCPUFlags() { return 0; }

char* __stdcall Environment::SaveString(const char* s, int length) {
  strings_.emplace_back(s, length < 0 ? std::strlen(s) : static_cast<size_t>(length));
  return strings_.back().data();
}

char* __stdcall Environment::Sprintf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  char* s = VSprintf(fmt, args);
  va_end(args);
  return s;
}

char* __stdcall Environment::VSprintf(const char* fmt, va_list val) {
  strings_.push_back(Format(fmt, val));
  return strings_.back().data();
}

void __stdcall Environment::ThrowError(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string message = Format(fmt, args);
  va_end(args);
  throw HostError(message);
}

void __stdcall Environment::AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) {
  functions_.push_back(Function{name, params, ParseSignature(name, params), apply, user_data});
}

bool __stdcall Environment::FunctionExists(const char* name) { return Find(name) != nullptr; }

AVSValue __stdcall Environment::Invoke(const char* name, const AVSValue args, const char* const* arg_names) {
  std::vector<Argument> list;
  list.reserve(static_cast<size_t>(args.ArraySize()));
  for (int i = 0; i < args.ArraySize(); ++i)
    list.push_back(Argument{arg_names && arg_names[i] ? arg_names[i] : "", args[i]});
  return Call(name, list);
}

AVSValue __stdcall Environment::GetVar(const char* name) {
  const auto it = vars_.find(name);
  if (it == vars_.end()) ThrowError("I don't know what \"%s\" means", name);
  return it->second;
}

bool __stdcall Environment::SetVar(const char* name, const AVSValue& val) {
  const bool fresh = vars_.find(name) == vars_.end();
  vars_[name] = val;
  return fresh;
}

bool __stdcall Environment::SetGlobalVar(const char* name, const AVSValue& val) { return SetVar(name, val); }
void __stdcall Environment::PushContext(int) {}
void __stdcall Environment::PopContext() {}

PVideoFrame __stdcall Environment::NewVideoFrame(const VideoInfo& vi, int) { return pool_.New(vi); }

bool __stdcall Environment::MakeWritable(PVideoFrame* pvf) {
  if ((*pvf)->IsWritable()) return false;
  *pvf = pool_.Copy(*pvf);
  return true;
}

void __stdcall Environment::BitBlt(uint8* dstp, int dst_pitch, const uint8* srcp, int src_pitch, int row_size,
                                   int height) {
  for (int r = 0; r < height; ++r)
    std::memcpy(dstp + static_cast<ptrdiff_t>(r) * dst_pitch, srcp + static_cast<ptrdiff_t>(r) * src_pitch,
                static_cast<size_t>(row_size));
}

void __stdcall Environment::AtExit(ShutdownFunc function, void* user_data) {
  at_exit_.emplace_back(function, user_data);
}

void __stdcall Environment::CheckVersion(int version) {
  if (version > AVISYNTH_INTERFACE_VERSION)
    ThrowError("Plugin was designed for a later version of the host (%d)", version);
}

PVideoFrame __stdcall Environment::Subframe(PVideoFrame, int, int, int, int) {
  throw HostError("Subframe: not supported by this host");
}

int __stdcall Environment::SetMemoryMax(int) { return 0; }
int __stdcall Environment::SetWorkingDir(const char*) { return -1; }
void* __stdcall Environment::ManageCache(int, void*) { return nullptr; }
bool __stdcall Environment::PlanarChromaAlignment(int) { return true; }

PVideoFrame __stdcall Environment::SubframePlanar(PVideoFrame, int, int, int, int, int, int, int) {
  throw HostError("SubframePlanar: not supported by this host");
}

}  // namespace tallyburn::frameserver
