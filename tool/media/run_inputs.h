// What a run reads, as its outputs must know it: the files its sources
// opened (so that nothing it writes is one of them, through links and hard
// links) and the media file whose sound and timecode an output keeps.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tool/media/io.h"

namespace tallyburn::tool {

// A media file a MediaSource opened: its path and the video stream it reads.
struct MediaOrigin {
  std::string path;
  int stream_index;
  int track;
};

class InputFiles {
 public:
  void Add(const InputStream& in);
  void Add(const std::string& name, const std::string& path);
  // The input `path` is, through links; nothing for a path no input is.
  std::optional<std::string> At(const std::string& path) const;
  std::optional<std::string> At(const FileId& file) const;

 private:
  struct Input {
    std::string name;
    FileId file;
  };
  std::vector<Input> inputs_;
};

// An output that is also an input of the run would destroy it: refused,
// as a ToolError, before a byte is written.
void RefuseInput(const InputFiles& inputs, const std::string& path);

}  // namespace tallyburn::tool
