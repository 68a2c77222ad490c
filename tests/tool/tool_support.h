// Running the built tool as a user does, and reading what it wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frameserver/environment.h"

namespace tallyburn::testing {

struct RunResult {
  int status;  // exit status, or -1 when it died
  std::string out;
  std::string err;
};

// A fresh folder under the system's temporary one, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string Quote(const std::string& s);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Runs `command` (a shell command line) in `dir`; standard input from
// `stdin_path` when given.
RunResult Shell(const TempDir& dir, const std::string& command, const std::string& stdin_path = "");

// The built tool with these arguments, `stdin_bytes` on a pipe to it.
RunResult RunTool(const TempDir& dir, const std::vector<std::string>& args, const std::string& stdin_bytes = "");

// The frames of a YUV4MPEG2 stream, in frames of the environment.
std::vector<PVideoFrame> ParseY4m(frameserver::Environment& env, const std::string& bytes, VideoInfo* vi = nullptr);

// A YUV4MPEG2 stream of `frames` frames of w x h, 4:2:0 or 4:2:2, each
// frame's bytes a pattern of its number.
std::string MakeY4m(int w, int h, int frames, bool yuv422 = false, const std::string& extra_tags = "");

}  // namespace tallyburn::testing
