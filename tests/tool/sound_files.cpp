#include "tests/tool/sound_files.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <sys/wait.h>

namespace tallyburn::testing {
namespace {

void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
void Put16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v));
  s.push_back(static_cast<char>(v >> 8));
}
uint32_t Get32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}
uint16_t Get16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}

}  // namespace

void WriteWav(const std::filesystem::path& path, const Sound& sound) {
  const uint32_t data = static_cast<uint32_t>(sound.samples.size() * 4);
  std::string s = "RIFF";
  Put32(s, 36 + data);
  s += "WAVEfmt ";
  Put32(s, 16);
  Put16(s, 3);  // IEEE float
  Put16(s, static_cast<uint16_t>(sound.channels));
  Put32(s, static_cast<uint32_t>(sound.rate));
  Put32(s, static_cast<uint32_t>(sound.rate * sound.channels * 4));
  Put16(s, static_cast<uint16_t>(sound.channels * 4));
  Put16(s, 32);
  s += "data";
  Put32(s, data);
  const size_t at = s.size();
  s.resize(at + data);
  std::memcpy(s.data() + at, sound.samples.data(), data);
  std::ofstream(path, std::ios::binary).write(s.data(), static_cast<std::streamsize>(s.size()));
}

Sound ReadWav(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string s{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WAVE") != 0)
    throw std::runtime_error(path.string() + " is not a WAV file");
  Sound sound;
  int format = 0, bits = 0;
  for (size_t at = 12; at + 8 <= s.size();) {
    const std::string id = s.substr(at, 4);
    uint32_t size = Get32(s, at + 4);
    const size_t body = at + 8;
    if (id == "fmt ") {
      format = Get16(s, body);
      sound.channels = Get16(s, body + 2);
      sound.rate = static_cast<int>(Get32(s, body + 4));
      bits = Get16(s, body + 14);
      if (format == 0xFFFE) format = Get16(s, body + 24);  // extensible: its sub-format
    } else if (id == "data") {
      if (size == 0xFFFFFFFF || body + size > s.size()) size = static_cast<uint32_t>(s.size() - body);
      if (format == 3 && bits == 32) {
        sound.samples.resize(size / 4);
        std::memcpy(sound.samples.data(), s.data() + body, sound.samples.size() * 4);
      } else if (format == 1 && bits == 16) {
        sound.samples.resize(size / 2);
        for (size_t i = 0; i < sound.samples.size(); ++i)
          sound.samples[i] = static_cast<int16_t>(Get16(s, body + 2 * i)) / 32768.0f;
      } else {
        throw std::runtime_error(path.string() + ": format " + std::to_string(format) + " at " + std::to_string(bits) +
                                 " bits is not read here");
      }
      return sound;
    }
    at = body + size + (size & 1);
  }
  throw std::runtime_error(path.string() + " has no data");
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tallysync-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int RunIn(const ScratchDir& dir, const std::string& command, std::string* out) {
  const std::string line = "cd '" + dir.path().string() + "' && " + command + " 2>&1";
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  std::array<char, 4096> chunk;
  while (const size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe)) text.append(chunk.data(), n);
  const int status = pclose(pipe);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tallyburn::testing
