// The host: a script environment that loads plug-ins as a frame server does,
// keeps a registry of script functions, binds calls by their signatures and
// hands out guarded frames.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "avisynth.h"
#include "frameserver/errors.h"
#include "frameserver/frame_pool.h"
#include "frameserver/signature.h"

namespace tallyburn::frameserver {

struct Function {
  std::string name;
  std::string params;
  std::vector<Parameter> parsed;
  ApplyFunc apply;
  void* user_data;
};

class Environment : public IScriptEnvironment {
 public:
  explicit Environment(FrameLayout layout = {});
  ~Environment() override;
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

  // dlopen the library, find its entry and call it, as a host's LoadPlugin.
  // The library stays loaded for the environment's life and beyond: clips it
  // made may outlive the environment.
  void LoadPlugin(const std::string& path);
  // The paths of the plug-ins loaded, in order.
  const std::vector<std::string>& loaded_plugins() const { return plugins_; }

  // Calls a registered function with positional and named arguments.
  AVSValue Call(const std::string& name, const std::vector<Argument>& args);

 protected:
  // After a function returned, with the argument array it was given: where
  // a host that counts otherwise can be imitated.
  virtual void Returned(const std::vector<AVSValue>& /*arguments*/) {}

 public:
  // Registered functions in registration order; a later registration of a
  // name (names are case-insensitive) hides an earlier one.
  const std::vector<Function>& functions() const { return functions_; }
  const Function* Find(const std::string& name) const;

  // clip->GetFrame(n), then the guard check of the frame it returned.
  PVideoFrame FetchFrame(const PClip& clip, int n);

  FramePool& frames() { return pool_; }

  // IScriptEnvironment.
  long __stdcall GetCPUFlags() override;
  char* __stdcall SaveString(const char* s, int length = -1) override;
  char* __stdcall Sprintf(const char* fmt, ...) override;
  char* __stdcall VSprintf(const char* fmt, va_list val) override;
  [[noreturn]] void __stdcall ThrowError(const char* fmt, ...) override;
  void __stdcall AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) override;
  bool __stdcall FunctionExists(const char* name) override;
  AVSValue __stdcall Invoke(const char* name, const AVSValue args, const char* const* arg_names = nullptr) override;
  AVSValue __stdcall GetVar(const char* name) override;
  bool __stdcall SetVar(const char* name, const AVSValue& val) override;
  bool __stdcall SetGlobalVar(const char* name, const AVSValue& val) override;
  void __stdcall PushContext(int level = 0) override;
  void __stdcall PopContext() override;
  PVideoFrame __stdcall NewVideoFrame(const VideoInfo& vi, int align = 16) override;
  bool __stdcall MakeWritable(PVideoFrame* pvf) override;
  void __stdcall BitBlt(uint8* dstp, int dst_pitch, const uint8* srcp, int src_pitch, int row_size,
                        int height) override;
  void __stdcall AtExit(ShutdownFunc function, void* user_data) override;
  void __stdcall CheckVersion(int version = AVISYNTH_INTERFACE_VERSION) override;
  PVideoFrame __stdcall Subframe(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                 int new_height) override;
  int __stdcall SetMemoryMax(int mem) override;
  int __stdcall SetWorkingDir(const char* newdir) override;
  void* __stdcall ManageCache(int key, void* data) override;
  bool __stdcall PlanarChromaAlignment(int mode) override;
  PVideoFrame __stdcall SubframePlanar(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size, int new_height,
                                       int rel_offsetU, int rel_offsetV, int new_pitchUV) override;

 private:
  FramePool pool_;
  std::vector<Function> functions_;
  std::vector<std::string> plugins_;
  std::deque<std::string> strings_;  // SaveString's, stable addresses
  std::map<std::string, AVSValue> vars_;
  std::vector<std::pair<ShutdownFunc, void*>> at_exit_;
};

}  // namespace tallyburn::frameserver
