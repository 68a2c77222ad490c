#include "tests/avsplus/real_host.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace tallyburn::testing {
namespace {

// Plane ids in the probe's order: Y U V, then A.
int PlaneId(size_t index) {
  constexpr int kIds[] = {PLANAR_Y, PLANAR_U, PLANAR_V, frameserver::kPlaneAlpha};
  return index < 4 ? kIds[index] : 0;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& err_file) {
  ProcessResult r;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return r;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (err_file.empty())
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  for (const int fd : {out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (spawned != 0) {
    close(out[0]);
    close(err[0]);
    r.err = std::string("cannot run ") + argv[0] + ": " + std::strerror(spawned);
    return r;
  }
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open_fds = 2;
  char buf[1 << 16];
  while (open_fds > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  if (!err_file.empty()) {
    std::ifstream in(err_file, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return r;
}

std::string RealHost::Folder() {
  namespace fs = std::filesystem;
  const char* given = std::getenv("TALLYBURN_AVSPLUS");
  const fs::path folder =
      given && *given ? fs::path(given) : fs::path(TALLYBURN_SOURCE_DIR) / ".." / "shared" / "avsplus";
  std::error_code ec;
  return fs::exists(folder / "avsprobe", ec) ? fs::weakly_canonical(folder, ec).string() : "";
}

std::string RealHost::Missing() {
#ifdef TALLYBURN_SANITIZED
  return "the plug-in is built with sanitizers, whose runtime the real host does not load";
#endif
  if (!Folder().empty()) return "";
  const char* given = std::getenv("TALLYBURN_AVSPLUS");
  return given && *given ? std::string("no avsprobe in TALLYBURN_AVSPLUS=") + given
                         : "no real host: ../shared/avsplus beside the source tree has no avsprobe, and "
                           "TALLYBURN_AVSPLUS is not set";
}

std::string ModulePath(Module module) {
  switch (module) {
    case Module::kAvisynth25: return TALLYBURN_AVISYNTH25_MODULE;
    case Module::kAvisynthC: return TALLYBURN_AVISYNTH_C_MODULE;
    case Module::kShipped: return TALLYBURN_PLUGIN_PATH;
  }
  return "";
}

std::string RealHost::WithPlugin(const std::string& script, Module module) {
  return "LoadPlugin(\"" + ModulePath(module) + "\")\n" + script;
}

std::vector<std::string> RealHost::ProbeArgs(const std::string& verb, const std::string& script, Module module) {
  return {Folder() + "/avsprobe", verb, WithPlugin(script, module)};
}

std::optional<ClipInfo> RealHost::Info(const std::string& script, std::string* error, Module module) {
  const ProcessResult r = RunProcess(ProbeArgs("info", script, module));
  if (r.status != 0) {
    if (error) *error = r.out.rfind("error: ", 0) == 0 ? r.out.substr(7) : r.out + r.err;
    return std::nullopt;
  }
  ClipInfo info;
  info.line = r.out.substr(0, r.out.find('\n'));
  VideoInfo& vi = info.vi;
  unsigned pixel_type = 0;
  long long samples = 0;
  int bits = 0;
  if (std::sscanf(info.line.c_str(),
                  "width=%d height=%d fps=%u/%u frames=%d pixel_type=%x audio_rate=%d channels=%d samples=%lld "
                  "bits=%d",
                  &vi.width, &vi.height, &vi.fps_numerator, &vi.fps_denominator, &vi.num_frames, &pixel_type,
                  &vi.audio_samples_per_second, &vi.nchannels, &samples, &bits) != 10) {
    if (error) *error = "unreadable info line: " + info.line;
    return std::nullopt;
  }
  vi.pixel_type = static_cast<int>(pixel_type);
  vi.num_audio_samples = samples;
  return info;
}

std::vector<DumpedFrame> RealHost::Dump(const std::string& script, int first, int count, Module module) {
  std::vector<std::string> args = ProbeArgs("dump", script, module);
  args.push_back(std::to_string(first));
  args.push_back(std::to_string(count));
  const ProcessResult r = RunProcess(args);
  std::vector<DumpedFrame> frames;
  if (r.status != 0) {
    ADD_FAILURE() << "the real host failed (" << r.status << "): " << r.out.substr(0, 300) << r.err.substr(0, 300);
    return frames;
  }
  return ParseDump(r.out, count);
}

std::vector<DumpedFrame> ParseDump(const std::string& out, int count, std::vector<std::string>* formats) {
  std::vector<DumpedFrame> frames;
  size_t at = 0;
  const auto line = [&]() {
    const size_t end = out.find('\n', at);
    std::string l = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? out.size() : end + 1;
    return l;
  };
  while (at < out.size()) {
    DumpedFrame f;
    char format[64] = {};
    int planes = 0;
    if (std::sscanf(line().c_str(), "FRAME %d %63s %d %d %d", &f.n, format, &f.width, &f.height, &planes) != 5) {
      ADD_FAILURE() << "unreadable frame dump";
      break;
    }
    if (std::sscanf(format, "0x%x", &f.pixel_type) != 1 && formats) formats->push_back(format);
    for (int p = 0; p < planes; ++p) {
      DumpedPlane plane;
      if (std::sscanf(line().c_str(), "PLANE %d %d", &plane.row_size, &plane.height) != 2) {
        ADD_FAILURE() << "unreadable plane dump";
        return frames;
      }
      const size_t bytes = static_cast<size_t>(plane.row_size) * static_cast<size_t>(plane.height);
      if (at + bytes > out.size()) {
        ADD_FAILURE() << "the dump ends inside a plane";
        return frames;
      }
      plane.bytes = out.substr(at, bytes);
      at += bytes;
      f.planes.push_back(std::move(plane));
    }
    frames.push_back(std::move(f));
  }
  if (frames.size() != static_cast<size_t>(count)) ADD_FAILURE() << "the dump holds " << frames.size() << " frames";
  return frames;
}

std::string RealHostError(const std::string& script) {
  std::string error;
  return RealHost::Info(script, &error) ? "" : error.substr(0, error.find_last_not_of('\n') + 1);
}

namespace {

// Serves one picture for every frame number, in fresh frames of our host.
class PictureSource final : public IClip {
 public:
  PictureSource(frameserver::Environment& env, const VideoInfo& vi, DumpedFrame picture)
      : env_(env), vi_(vi), picture_(std::move(picture)) {}

  PVideoFrame __stdcall GetFrame(int, IScriptEnvironment*) override {
    PVideoFrame frame = env_.NewVideoFrame(vi_);
    for (const frameserver::PlaneGeometry& g : *env_.frames().Planes(frame.get())) {
      const DumpedPlane* src = nullptr;
      for (size_t i = 0; i < picture_.planes.size(); ++i)
        if (PlaneId(i) == g.plane) src = &picture_.planes[i];
      if (src == nullptr || src->row_size != g.row_size || src->height != g.height)
        throw frameserver::HostError("the dumped picture does not fit our host's frame");
      for (int line = 0; line < g.height; ++line)
        std::memcpy(frame->vfb->data + g.offset + static_cast<size_t>(line) * g.pitch,
                    src->bytes.data() + static_cast<size_t>(line) * g.row_size, static_cast<size_t>(g.row_size));
    }
    return frame;
  }
  bool __stdcall GetParity(int) override { return false; }
  void __stdcall GetAudio(void*, int64, int64, IScriptEnvironment*) override {}
  int __stdcall SetCacheHints(int, int) override { return 0; }
  const VideoInfo& __stdcall GetVideoInfo() override { return vi_; }

 private:
  frameserver::Environment& env_;
  VideoInfo vi_;
  DumpedFrame picture_;
};

}  // namespace

PClip PictureClip(frameserver::Environment& env, const VideoInfo& vi, const DumpedFrame& picture) {
  return new PictureSource(env, vi, picture);
}

DumpedFrame AsDumped(frameserver::Environment& env, const PVideoFrame& frame, int n, const VideoInfo& vi) {
  DumpedFrame d{n, static_cast<uint32_t>(vi.pixel_type), vi.width, vi.height, {}};
  const std::vector<frameserver::PlaneGeometry>& planes = *env.frames().Planes(frame.get());
  for (size_t i = 0; i < planes.size(); ++i) {
    for (const frameserver::PlaneGeometry& g : planes) {
      if (g.plane != PlaneId(i)) continue;
      DumpedPlane p{g.row_size, g.height, {}};
      for (int line = 0; line < g.height; ++line)
        p.bytes.append(reinterpret_cast<const char*>(frame->vfb->data + g.offset + static_cast<size_t>(line) * g.pitch),
                       static_cast<size_t>(g.row_size));
      d.planes.push_back(std::move(p));
    }
  }
  return d;
}

std::string FirstDifference(const DumpedFrame& want, const DumpedFrame& got) {
  std::ostringstream s;
  if (want.pixel_type != got.pixel_type || want.width != got.width || want.height != got.height ||
      want.planes.size() != got.planes.size()) {
    s << "frame shapes differ: " << std::hex << want.pixel_type << " vs " << got.pixel_type;
    return s.str();
  }
  for (size_t p = 0; p < want.planes.size(); ++p) {
    const DumpedPlane &a = want.planes[p], &b = got.planes[p];
    if (a.row_size != b.row_size || a.height != b.height) {
      s << "plane " << p << " sizes differ";
      return s.str();
    }
    const auto diff = std::mismatch(a.bytes.begin(), a.bytes.end(), b.bytes.begin());
    if (diff.first != a.bytes.end()) {
      const size_t at = static_cast<size_t>(diff.first - a.bytes.begin());
      s << "frame " << want.n << ", plane " << p << ", buffer line " << at / static_cast<size_t>(a.row_size)
        << ", byte " << at % static_cast<size_t>(a.row_size) << ": " << int(static_cast<uint8_t>(*diff.first)) << " vs "
        << int(static_cast<uint8_t>(*diff.second));
      return s.str();
    }
  }
  return "";
}

}  // namespace tallyburn::testing

namespace tallyburn::testing {

std::string RealHostFolder() { return RealHost::Folder(); }
std::string RealHostMissing() { return RealHost::Missing(); }
bool HaveCDoor() { return !ModulePath(Module::kAvisynthC).empty(); }
std::string ShippedScript(const std::string& script) { return RealHost::WithPlugin(script, Module::kShipped); }

}  // namespace tallyburn::testing
