// Our host with the switches only tests need: a MakeWritable that breaks
// its promise, and the identity and clip counting of another host.
#pragma once

#include <string>
#include <vector>

#include "frameserver/environment.h"

namespace tallyburn::frameserver {

class TestEnvironment final : public Environment {
 public:
  using Environment::Environment;

  // When set, a shared frame is left shared (and so has no write pointer).
  void set_broken_make_writable(bool broken) { broken_make_writable_ = broken; }

  // VersionString() answers `version` (unset: there is no such function),
  // and with `releases_clip_arguments_twice` every clip argument of a call
  // that returns is released once more afterwards, as AviSynth+ on Linux
  // does.
  void set_identity(std::string version, bool releases_clip_arguments_twice) {
    version_ = std::move(version);
    releases_clip_arguments_twice_ = releases_clip_arguments_twice;
  }

  bool __stdcall MakeWritable(PVideoFrame* pvf) override;
  bool __stdcall FunctionExists(const char* name) override;
  AVSValue __stdcall Invoke(const char* name, const AVSValue args, const char* const* arg_names = nullptr) override;

 protected:
  void Returned(const std::vector<AVSValue>& arguments) override;

 private:
  bool broken_make_writable_ = false;
  std::string version_;
  bool releases_clip_arguments_twice_ = false;
};

}  // namespace tallyburn::frameserver
