// The tool's outputs, as one table: each kind's name, the file names it
// claims, what it accepts, and how it opens. An output is chosen once, by
// name (--raw) or by the path, and the help text and --info come from here.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "avisynth.h"
#include "tool/media/media_output.h"
#include "tool/media/run_inputs.h"
#include "tool/media/sinks.h"

namespace tallyburn::tool {

enum class OutputKind {
  kStream,     // bytes in order: a file, a pipe or a device
  kPictures,   // one file per frame
  kContainer,  // an encoded container, which needs a file it can seek in
};

struct OutputType;

// Where the frames go, decided from the command line before the script
// runs, so that a bad name or option costs nothing.
struct OutputPlan {
  const OutputType* type = nullptr;
  std::string path;                    // "-": standard output
  FramePattern pattern;                // pictures
  std::optional<MediaSettings> media;  // a container
  bool one_picture() const;
};

// What opening an output needs from the run.
struct OutputRun {
  const VideoInfo& vi;
  const InputFiles& inputs;          // no output may be one of them
  std::optional<MediaOrigin> media;  // the script's one media source: its sound and timecode kept
  std::optional<Y4mTags> y4m;        // the script's one YUV4MPEG2 input: its tags kept
  int first_frame;
  int frames;
  SoundReader sound;  // the clip's own sound, where it has any
};

struct OutputType {
  const char* name;
  OutputKind kind;
  const char* names;    // the paths it is chosen by, for the help
  const char* accepts;  // the clips it takes, for the help
  // Whether a path (not given by name) is this output's; null: by name only.
  bool (*claims)(const std::string& path);
  std::unique_ptr<FrameSink> (*open)(const OutputPlan& plan, const OutputRun& run);
  // For --info: what the output would be.
  std::string (*describe)(const OutputPlan& plan, const OutputRun& run);
};

std::span<const OutputType> OutputTypes();

// The output for `path`: the type called `by_name` (null: chosen by the
// path), with the media encoder's settings checked. Throws UsageError.
OutputPlan PlanOutput(const std::string& path, const char* by_name, const std::string& codec,
                      const std::string& codec_options, const std::string& audio_codec = "");

// The help's lines on the outputs, from the table.
std::string OutputHelp();

}  // namespace tallyburn::tool
