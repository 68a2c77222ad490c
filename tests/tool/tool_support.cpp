#include "tests/tool/tool_support.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tool/media/io.h"
#include "tool/media/y4m.h"

namespace tallyburn::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tallyburn-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

RunResult Shell(const TempDir& dir, const std::string& command, const std::string& stdin_path) {
  const std::string out = dir.Path(".stdout"), err = dir.Path(".stderr");
  const std::string line = "cd " + Quote(dir.path()) + " && { " + command + " ; } < " +
                           Quote(stdin_path.empty() ? "/dev/null" : stdin_path) + " > " + Quote(out) + " 2> " +
                           Quote(err);
  const int raw = std::system(line.c_str());
  RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
  return r;
}

RunResult RunTool(const TempDir& dir, const std::vector<std::string>& args, const std::string& stdin_bytes) {
  // Standard input is a pipe, as in a pipeline (a file would tell its size).
  const std::string in = dir.Path(".stdin");
  WriteFile(in, stdin_bytes);
  std::string command = "cat " + Quote(in) + " | " + Quote(TALLYBURN_TOOL_PATH);
  for (const std::string& a : args) command += " " + Quote(a);
  return Shell(dir, command);
}

std::vector<PVideoFrame> ParseY4m(frameserver::Environment& env, const std::string& bytes, VideoInfo* vi_out) {
  auto in = tool::InputStream::FromMemory(std::vector<uint8_t>(bytes.begin(), bytes.end()), "output");
  const tool::Y4mHeader h = tool::ReadY4mHeader(*in);
  const VideoInfo vi = tool::Y4mVideoInfo(h);
  if (vi_out) *vi_out = vi;
  std::vector<uint8_t> scratch(tool::Y4mFrameBytes(h));
  std::vector<PVideoFrame> frames;
  for (int n = 0; tool::ReadY4mFrameHeader(*in, n); ++n) {
    PVideoFrame f = env.NewVideoFrame(vi);
    tool::ReadY4mPlanes(*in, h, n, *f.get(), scratch);
    frames.push_back(f);
  }
  return frames;
}

std::string MakeY4m(int w, int h, int frames, bool yuv422, const std::string& extra_tags) {
  std::string s = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F25:1 Ip" +
                  (yuv422 ? " C422" : " C420jpeg") + extra_tags + "\n";
  const size_t bytes = static_cast<size_t>(w) * h * 2 - (yuv422 ? 0 : static_cast<size_t>(w) * h / 2);
  for (int n = 0; n < frames; ++n) {
    s += "FRAME\n";
    for (size_t i = 0; i < bytes; ++i) s += static_cast<char>((i * 7 + static_cast<size_t>(n) * 13) & 0xFF);
  }
  return s;
}

}  // namespace tallyburn::testing
