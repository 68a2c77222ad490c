// MediaSource's reader on any file FFmpeg's libraries open, cut or
// damaged: the index, the whole frames of a cut file, seeking and the
// sound. The first byte chooses how it is read, the rest is the file
// (written to a temporary one: MediaInput reads files). Whatever the bytes,
// the reader delivers its frames in presentation order, as many as it
// counted, then says whether the file is cut; every line of every picture
// is read, for the sanitizers to check it lies in its buffer.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "tool/media/media_input.h"

using namespace tallyburn;

namespace {

using fuzz::Check;

// One temporary file for the process, removed when it exits.
const std::string& TemporaryPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/media_fuzzer-XXXXXX";
    const int fd = mkstemp(name.data());
    Check(fd >= 0, "media_fuzzer: cannot make a temporary file");
    close(fd);
    std::atexit([] { unlink(TemporaryPath().c_str()); });
    return name;
  }();
  return path;
}

bool WriteAll(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

unsigned Touch(const tool::Picture& p) {
  unsigned sum = 0;
  for (int k = 0; k < 4; ++k) {
    if (k >= p.count && !(k == 3 && p.alpha)) continue;
    const tool::PlaneView& v = p.planes[k];
    for (int r = 0; r < v.height; ++r)
      for (int x = 0; x < v.row_bytes; ++x) sum += v.data[static_cast<ptrdiff_t>(r) * v.pitch + x];
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t how = data[0];
  const std::string& path = TemporaryPath();
  Check(WriteAll(path, data + 1, size - 1), "media_fuzzer: cannot write the temporary file");

  tool::MediaOptions options;
  if ((how & 1) != 0) {
    options.fps_num = 24;
    options.fps_den = 1;
  }
  options.any_spacing = (how & 2) != 0;
  std::unique_ptr<tool::MediaInput> input;
  try {
    input = tool::MediaInput::Open(path, options);
  } catch (const tool::ToolError&) {
    return 0;
  }
  const VideoInfo& vi = input->info();
  Check(vi.num_frames > 0, "media_fuzzer: a file opened with no frames");
  // Big pictures are valid but slow the search: opening them has run.
  if (static_cast<int64_t>(vi.width) * vi.height > (1 << 18)) return 0;
  const bool cut = input->facts().cut;
  unsigned sum = 0;
  try {
    if ((how & 4) != 0)
      input->ReadSound([&](const float* s, size_t frames, int channels) {
        for (size_t i = 0; i < frames * static_cast<size_t>(channels); ++i) sum += s[i] > 0 ? 1 : 0;
      });
    if ((how & 8) != 0) {
      // Out of order: the last frame, the first, the middle, one before the last.
      for (const int n : {vi.num_frames - 1, 0, vi.num_frames / 2, vi.num_frames - 2}) {
        if (n < 0) continue;
        const tool::Picture& p = input->Frame(n);
        Check(p.time == input->Time(n), "media_fuzzer: a frame with another's time");
        sum += Touch(p);
      }
      return static_cast<int>(sum & 0);
    }
    // In order, to the end: as many frames as counted, then the end or the cut.
    constexpr int kMost = 400;
    int read = 0;
    double last = -1e300;
    for (;;) {
      if (read == kMost) return static_cast<int>(sum & 0);
      const tool::Picture* p = nullptr;
      try {
        p = input->Next(false);
      } catch (const tool::InputCut&) {
        Check(cut, "media_fuzzer: a file not counted cut said it was");
        Check(read == vi.num_frames, "media_fuzzer: cut after other than its whole frames");
        break;
      }
      if (p == nullptr) {
        Check(!cut, "media_fuzzer: a cut file ended without saying so");
        Check(read == vi.num_frames, "media_fuzzer: the end came after other than its frames");
        break;
      }
      Check(p->time >= last, "media_fuzzer: frames out of presentation order");
      last = p->time;
      sum += Touch(*p);
      ++read;
    }
    if ((how & 4) != 0) input->FinishSound();
  } catch (const tool::InputCut&) {
    Check(false, "media_fuzzer: a cut said out of turn");
  } catch (const tool::ToolError&) {
    // A damaged frame that does not come out of its decoder: said, in one line.
  }
  return static_cast<int>(sum & 0);
}
