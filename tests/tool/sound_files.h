// WAV files for the sync tests: the generator's sound out to ffmpeg, and
// ffmpeg's back, as float samples.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tallyburn::testing {

struct Sound {
  int rate = 0;
  int channels = 0;
  std::vector<float> samples;  // interleaved
  size_t frames() const { return channels > 0 ? samples.size() / channels : 0; }
};

// 32-bit float WAV.
void WriteWav(const std::filesystem::path& path, const Sound& sound);
// 16-bit or 32-bit float WAV, plain or extensible; throws std::runtime_error
// with the reason when it is neither.
Sound ReadWav(const std::filesystem::path& path);

// A folder of its own for one test, removed after it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs command in dir through the shell; its exit status, its output in out.
int RunIn(const ScratchDir& dir, const std::string& command, std::string* out = nullptr);

}  // namespace tallyburn::testing
