// The real VapourSynth core, driven through its probe: call chains that
// load the built plug-in, their clips' properties, messages and frames as
// bytes, on Linux and (under Wine) on Windows.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/avsplus/real_host.h"

namespace tallyburn::testing {

// Linux: ../shared/vapoursynth (or TALLYBURN_VAPOURSYNTH) with the built
// libtallyburn.so. Windows: ../shared/vapoursynth-win (or
// TALLYBURN_VAPOURSYNTH_WIN) under Wine with the built tallyburn.dll.
enum class VsPlatform { kLinux, kWindows };

class VsHost {
 public:
  // The core's folder, or "" when it has no probe.
  static std::string Folder(VsPlatform platform = VsPlatform::kLinux);
  // Why there is no such host here, or "" when there is one.
  static std::string Missing(VsPlatform platform = VsPlatform::kLinux);
  // The probe's command line: `verb` `chain` after --load of the plug-in.
  static std::vector<std::string> ProbeArgs(const std::string& verb, const std::string& chain,
                                            VsPlatform platform = VsPlatform::kLinux);

  // The probe's info line ("width=... format=..."), or nothing with the
  // chain's message ("error: " dropped) in `error`.
  static std::optional<std::string> Info(const std::string& chain, std::string* error = nullptr,
                                         VsPlatform platform = VsPlatform::kLinux);
  // Frames first .. first + count - 1, planes in VapourSynth's order (Y U V
  // or R G B); fails the test on an error. `formats` gets each frame's
  // format name.
  static std::vector<DumpedFrame> Dump(const std::string& chain, int first, int count,
                                       std::vector<std::string>* formats = nullptr,
                                       VsPlatform platform = VsPlatform::kLinux);
};

// The chain's message, or "" when it succeeds.
std::string VsError(const std::string& chain);

// A frame of planar RGB in AviSynth's plane order (G B R) from
// VapourSynth's (R G B); other frames as they are.
DumpedFrame InAvisynthPlaneOrder(DumpedFrame frame, bool rgb);

}  // namespace tallyburn::testing
