// The real frame-server host, driven through its probe: scripts that load
// the built plug-in, their clips' properties and their frames as bytes, and
// the same pictures fed to our own host for comparison.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "avisynth.h"
#include "frameserver/environment.h"

namespace tallyburn::testing {

struct ProcessResult {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs argv[0] (looked up on PATH) with these arguments, no shell between.
// With `err_file`, standard error goes to that file (read back into `err`)
// instead of a pipe: helpers a program leaves behind (Wine's) may hold a
// pipe open long after it exits.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& err_file = "");

// One plane as the probe dumps it: rows in buffer order, no padding.
struct DumpedPlane {
  int row_size = 0;
  int height = 0;
  std::string bytes;
};

struct DumpedFrame {
  int n = 0;
  uint32_t pixel_type = 0;
  int width = 0;
  int height = 0;
  std::vector<DumpedPlane> planes;  // Y U V (then A), or the one packed plane
};

struct ClipInfo {
  VideoInfo vi{};
  std::string line;  // as printed, for messages
};

// The library a script loads: one door alone, or the plug-in as shipped
// (both entries; AviSynth+ takes the C one). The suite meets the 2.5 door
// in the real host through its own library.
enum class Module { kAvisynth25, kAvisynthC, kShipped };

// The built library, or "" for a C door this build does not have.
std::string ModulePath(Module module);

class RealHost {
 public:
  // The probe's folder: TALLYBURN_AVSPLUS, else ../shared/avsplus beside
  // the source tree. Empty when neither holds an avsprobe.
  static std::string Folder();
  // Why there is no real host here, or "" when there is one.
  static std::string Missing();

  // `script` runs after LoadPlugin of the built library.
  static std::string WithPlugin(const std::string& script, Module module = Module::kAvisynth25);
  static std::vector<std::string> ProbeArgs(const std::string& verb, const std::string& script,
                                            Module module = Module::kAvisynth25);

  // Properties of the script's clip, or the error it fails with.
  static std::optional<ClipInfo> Info(const std::string& script, std::string* error = nullptr,
                                      Module module = Module::kAvisynth25);
  // Frames first .. first + count - 1; fails the test on a script error.
  static std::vector<DumpedFrame> Dump(const std::string& script, int first, int count,
                                       Module module = Module::kAvisynth25);
};

// The frames of a probe's dump, whose FRAME lines give the format as the
// host names it: AviSynth+'s pixel type in hex, or VapourSynth's format
// name (into `formats`; pixel_type stays 0). Fails the test on a dump it
// cannot read or one of another length than `count`.
std::vector<DumpedFrame> ParseDump(const std::string& out, int count, std::vector<std::string>* formats = nullptr);

// The script's own message ("error: " dropped), or "" when it succeeds.
std::string RealHostError(const std::string& script);

// A clip of our host that shows `picture` for every frame, with `vi`.
PClip PictureClip(frameserver::Environment& env, const VideoInfo& vi, const DumpedFrame& picture);

// A frame of our host in the probe's dump layout.
DumpedFrame AsDumped(frameserver::Environment& env, const PVideoFrame& frame, int n, const VideoInfo& vi);

// "" when equal, else where the first difference is.
std::string FirstDifference(const DumpedFrame& want, const DumpedFrame& got);

}  // namespace tallyburn::testing
