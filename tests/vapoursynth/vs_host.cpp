#include "tests/vapoursynth/vs_host.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include <gtest/gtest.h>

namespace tallyburn::testing {
namespace {

namespace fs = std::filesystem;

struct Setting {
  const char* variable;  // overrides the folder beside the source tree
  const char* folder;
  const char* probe;
};
constexpr Setting kSettings[] = {{"TALLYBURN_VAPOURSYNTH", "vapoursynth", "vsprobe"},
                                 {"TALLYBURN_VAPOURSYNTH_WIN", "vapoursynth-win", "vsprobe.exe"}};

const Setting& SettingOf(VsPlatform platform) { return kSettings[platform == VsPlatform::kLinux ? 0 : 1]; }

}  // namespace

std::string VsHost::Folder(VsPlatform platform) {
  const Setting& s = SettingOf(platform);
  const char* given = std::getenv(s.variable);
  const fs::path folder =
      given && *given ? fs::path(given) : fs::path(TALLYBURN_SOURCE_DIR) / ".." / "shared" / s.folder;
  std::error_code ec;
  return fs::exists(folder / s.probe, ec) ? fs::weakly_canonical(folder, ec).string() : "";
}

namespace {

std::string Wine() {
  const char* given = std::getenv("TALLYBURN_WINE");
  return given && *given ? given : "/usr/lib/wine/wine64";
}

std::string WindowsPlugin() { return TALLYBURN_WINDOWS_DLL_PATH; }

// One wine server for every probe of the run, started away from every pipe;
// it stays 30 s after the last one. (Wine's own start of it costs seconds a
// probe.)
void StartWineServer() {
  static const bool started = [] {
    std::error_code ec;
    fs::create_directories(TALLYBURN_WINE_PREFIX, ec);
    const std::string server = (fs::path(Wine()).parent_path() / "wineserver").string();
    return std::system(
               ("WINEPREFIX='" TALLYBURN_WINE_PREFIX "' '" + server + "' -p30 </dev/null >/dev/null 2>&1").c_str()) ==
           0;
  }();
  (void)started;  // without it each probe starts its own, only slower
}

// Wine sees the Linux root as drive Z:.
std::string WindowsPath(const std::string& path) {
  std::string p = "Z:" + fs::absolute(path).string();
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

// Wine's helpers may hold a pipe open long after the probe exits: its
// standard error goes to a file.
ProcessResult Run(const std::vector<std::string>& args, VsPlatform platform) {
  return RunProcess(args, platform == VsPlatform::kLinux ? "" : TALLYBURN_WINE_PREFIX ".vapoursynth.stderr");
}

}  // namespace

std::string VsHost::Missing(VsPlatform platform) {
#ifdef TALLYBURN_SANITIZED
  return "the plug-in is built with sanitizers, whose runtime the VapourSynth probe does not load";
#endif
#ifndef TALLYBURN_HAVE_VAPOURSYNTH
  return "the plug-in is built without its VapourSynth entry: no VapourSynth4.h in TALLYBURN_VAPOURSYNTH_INCLUDE";
#endif
  const Setting& s = SettingOf(platform);
  if (VsHost::Folder(platform).empty()) {
    const char* given = std::getenv(s.variable);
    return given && *given ? std::string("no ") + s.probe + " in " + s.variable + "=" + given
                           : std::string("no VapourSynth core: ../shared/") + s.folder +
                                 " beside the source tree has no " + s.probe + ", and " + s.variable + " is not set";
  }
  if (platform == VsPlatform::kLinux) return "";
  std::error_code ec;
  if (!fs::exists(Wine(), ec)) return "no Wine: " + Wine() + " is missing (TALLYBURN_WINE names another)";
  const std::string dll = WindowsPlugin();
  if (dll.empty() || !fs::exists(dll, ec))
    return "no Windows build of the plug-in: " +
           (dll.empty() ? std::string("TALLYBURN_DLL is not set") : dll + " is missing");
  return "";
}

std::vector<std::string> VsHost::ProbeArgs(const std::string& verb, const std::string& chain, VsPlatform platform) {
  if (platform == VsPlatform::kLinux)
    return {VsHost::Folder(platform) + "/vsprobe", "--load", TALLYBURN_PLUGIN_PATH, verb, chain};
  StartWineServer();
  return {"env",
          "WINEDEBUG=-all",
          std::string("WINEPREFIX=") + TALLYBURN_WINE_PREFIX,
          Wine(),
          VsHost::Folder(platform) + "/vsprobe.exe",
          "--load",
          WindowsPath(WindowsPlugin()),
          verb,
          chain};
}

std::optional<std::string> VsHost::Info(const std::string& chain, std::string* error, VsPlatform platform) {
  const ProcessResult r = Run(ProbeArgs("info", chain, platform), platform);
  if (r.status != 0) {
    if (error) {
      *error = r.out.rfind("error: ", 0) == 0 ? r.out.substr(7) : r.out + r.err;
      error->erase(error->find_last_not_of("\r\n") + 1);
    }
    return std::nullopt;
  }
  return r.out.substr(0, r.out.find_first_of("\r\n"));
}

std::vector<DumpedFrame> VsHost::Dump(const std::string& chain, int first, int count, std::vector<std::string>* formats,
                                      VsPlatform platform) {
  std::vector<std::string> args = ProbeArgs("dump", chain, platform);
  args.push_back(std::to_string(first));
  args.push_back(std::to_string(count));
  const ProcessResult r = Run(args, platform);
  if (r.status != 0) {
    ADD_FAILURE() << "the VapourSynth probe failed (" << r.status << "): " << r.out.substr(0, 300)
                  << r.err.substr(0, 300);
    return {};
  }
  return ParseDump(r.out, count, formats);
}

std::string VsError(const std::string& chain) {
  std::string error;
  return VsHost::Info(chain, &error) ? "" : error;
}

DumpedFrame InAvisynthPlaneOrder(DumpedFrame frame, bool rgb) {
  if (rgb && frame.planes.size() == 3) {
    std::swap(frame.planes[0], frame.planes[1]);  // G R B
    std::swap(frame.planes[1], frame.planes[2]);  // G B R
  }
  return frame;
}

}  // namespace tallyburn::testing
