// The README's examples, run as written: every ```sh block but the build
// and test commands (which CI runs in their own right), in a folder that
// holds the files the examples name, made by ffmpeg the way a camera, an
// editor or a delivery would have made them. A block fails on its first
// failing command or pipe stage, so an example that breaks fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tool/tool_support.h"

namespace tallyburn::testing {
namespace {

namespace fs = std::filesystem;

struct Example {
  int line;             // where its block starts in the README
  std::string section;  // the "## " heading it comes under
  std::string text;
};

std::vector<Example> ShellExamples(const std::string& readme) {
  std::vector<Example> examples;
  std::istringstream in(readme);
  std::string line, block;
  std::string section;
  int number = 0, start = 0;
  bool inside = false;
  while (std::getline(in, line)) {
    ++number;
    if (!inside && line.rfind("## ", 0) == 0) {
      section = line;
    } else if (!inside && line == "```sh") {
      inside = true;
      start = number;
      block.clear();
    } else if (inside && line == "```") {
      inside = false;
      const std::string first = block.substr(0, block.find_first_of(" \n"));
      // The set-up, build and test commands: what CI itself runs.
      if (first != "cmake" && first != "ctest" && first != "bash" && first != "mkdir")
        examples.push_back({start, section, block});
    } else if (inside) {
      block += line + "\n";
    }
  }
  return examples;
}

bool Have(const std::string& command) {
  return std::system(("command -v " + command + " > /dev/null 2>&1").c_str()) == 0;
}

// The files the examples name, small but of the kinds users have: an 8-bit
// H.264 MP4 with AAC sound, 720p raw BGR, a 10-second 10-bit 4:2:2 ProRes
// master, and a camera file (ProRes 4:2:2 10-bit at 23.976 with a timecode
// track from 01:00:00:00 and PCM sound).
constexpr const char* kInputs[] = {
    "ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -f lavfi -i sine=frequency=440:duration=2 "
    "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest in.mp4",
    "ffmpeg -v error -f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v 3 -f rawvideo -pix_fmt bgr24 in.bgr",
    "ffmpeg -v error -f lavfi -i testsrc2=size=640x360:rate=25:duration=10 -c:v prores -profile:v 2 "
    "-pix_fmt yuv422p10le master.mov",
    "ffmpeg -v error -f lavfi -i testsrc2=size=640x360:rate=24000/1001:duration=7 -f lavfi -i sine=frequency=1000 "
    "-c:v prores -profile:v 3 -pix_fmt yuv422p10le -c:a pcm_s24le -timecode 01:00:00:00 -shortest dailies.mov",
};

TEST(ReadmeExamples, RunAsWritten) {
  if (!Have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed; .ci/run installs it";
  const std::vector<Example> examples = ShellExamples(ReadFile(TALLYBURN_SOURCE_DIR "/README.md"));
  ASSERT_FALSE(examples.empty()) << "no ```sh example found in the README";

  TempDir dir;
  for (const char* make : kInputs) ASSERT_EQ(Shell(dir, make).status, 0) << make;
  // The tool as installed, on the PATH; a player that takes what it is
  // sent (a YUV4MPEG2 stream, checked) and shows nothing.
  fs::create_directory(dir.Path("bin"));
  WriteFile(dir.Path("bin/tallyburn"), "#!/bin/sh\nexec " + Quote(TALLYBURN_TOOL_PATH) + " \"$@\"\n");
  WriteFile(dir.Path("bin/mpv"), "#!/bin/sh\n[ \"$1\" = - ] && head -c 10 | grep -q '^YUV4MPEG2' && cat > /dev/null\n");
  fs::permissions(dir.Path("bin/tallyburn"), fs::perms::owner_all);
  fs::permissions(dir.Path("bin/mpv"), fs::perms::owner_all);

  // The examples of a section in a folder of their own, in order, as a
  // user following that section would run them: the input files and what
  // the section's earlier examples wrote. An input that one of the
  // section's examples makes itself (its name ends one of its lines, as an
  // ffmpeg output does) is not there beforehand.
  std::map<std::string, std::string> folders;
  for (const Example& e : examples) {
    if (folders.count(e.section) != 0) continue;
    const std::string folder = dir.Path("section" + std::to_string(folders.size()));
    folders[e.section] = folder;
    fs::create_directory(folder);
    for (const auto& input : fs::directory_iterator(dir.path())) {
      const std::string name = input.path().filename().string();
      const bool made = std::any_of(examples.begin(), examples.end(), [&](const Example& x) {
        return x.section == e.section && x.text.find(" " + name + "\n") != std::string::npos;
      });
      if (input.is_regular_file() && !made) fs::create_hard_link(input.path(), folder + "/" + name);
    }
  }
  for (const Example& e : examples) {
    const auto began = std::chrono::steady_clock::now();
    SCOPED_TRACE("README.md line " + std::to_string(e.line) + ":\n" + e.text);
    const std::string& folder = folders[e.section];
    WriteFile(folder + "/example.sh", "set -euo pipefail\n" + e.text);
    const RunResult r = Shell(
        dir, "cd " + Quote(folder) + " && PATH=" + Quote(dir.Path("bin")) + ":\"$PATH\" bash example.sh < /dev/null");
    EXPECT_EQ(r.status, 0) << r.err;
    std::printf("README.md line %d: %.1f s\n", e.line,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
  }
}

}  // namespace
}  // namespace tallyburn::testing
