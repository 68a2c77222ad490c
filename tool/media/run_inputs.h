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
  // A frame pattern (a sequence of pictures) adds each file it names.
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

// Every file the tool writes goes through here before a byte is written:
// one that is also an input of the run (a picture sequence: any file its
// pattern names) would destroy it, and is refused as a ToolError, "PATH:
// is also an input of WHOSE (NAME): write the WHAT elsewhere".
void RefuseInput(const InputFiles& inputs, const std::string& path, const std::string& whose = "the script",
                 const std::string& what = "output");

}  // namespace tallyburn::tool
