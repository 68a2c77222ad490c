// What one run of the tool knows about its inputs: the files its sources
// opened (so that no output overwrites one) and the streams they read (for
// the length, the YUV4MPEG2 tags to keep, and the end of each stream). The
// sources get it as their user_data.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "avisynth.h"
#include "tool/media/io.h"
#include "tool/media/run_inputs.h"
#include "tool/media/y4m.h"

namespace tallyburn::tool {

// A source reading a stream, as the run sees it while the source lives.
class LiveStream {
 public:
  // Its length is known only at its end (a pipe, with no length= given).
  virtual bool unknown_length() const = 0;
  // Its YUV4MPEG2 header; null for raw frames.
  virtual const Y4mHeader* y4m_header() const = 0;
  // After the run read its last whole frame: a partial frame after it fails.
  virtual void CheckEnd(IScriptEnvironment* env) = 0;

 protected:
  ~LiveStream() = default;
};

class ToolContext {
 public:
  using MediaOrigin = tool::MediaOrigin;
  void AddMedia(const MediaOrigin& media);         // called by MediaSource when it opens a file
  std::optional<MediaOrigin> MediaToKeep() const;  // the script's one MediaSource; none when none or several

  // Inputs, recorded as their sources open them.
  void AddInput(const InputStream& in) { files_.Add(in); }
  void AddInput(const std::string& name, const std::string& path) { files_.Add(name, path); }
  const InputFiles& files() const { return files_; }
  // What each input is and how its frames come, for --info: one line each.
  void Describe(std::string line) { descriptions_.push_back(std::move(line)); }
  const std::vector<std::string>& descriptions() const { return descriptions_; }
  // An input that ends inside its video: its whole frames are delivered,
  // and a run that reads to its end fails after them with `message`.
  void AddCut(std::string message) { cuts_.push_back(std::move(message)); }

  // Live stream sources register themselves for their lifetime.
  void AddStream(LiveStream* stream) { streams_.push_back(stream); }
  void RemoveStream(LiveStream* stream);
  // Whether a live source reads a stream whose length is known only at its
  // end (a pipe, with no length= given).
  bool ReadsStreamOfUnknownLength() const;
  // The chroma siting, aspect and X tags of the script's one YUV4MPEG2
  // input, for the output to keep; none when there is no such input or
  // several.
  std::optional<Y4mTags> Y4mTagsToKeep() const;
  // After a run that read every whole frame of its streams: the partial
  // frame a file ends with is reported as a pipe's would be, and a media
  // file cut short as such.
  void CheckStreamEnds(IScriptEnvironment* env) const;

 private:
  InputFiles files_;
  std::vector<MediaOrigin> media_;
  std::vector<std::string> descriptions_;
  std::vector<std::string> cuts_;
  std::vector<LiveStream*> streams_;
};

}  // namespace tallyburn::tool
