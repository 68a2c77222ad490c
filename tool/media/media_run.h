// What a media output is asked to do: the container and encoders the
// command line chose, and what the run hands it (its frames' range, the
// source whose sound and timecode it keeps, the clip's own sound). Shared
// by the output and each of its parts.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tool/media/run_inputs.h"
#include "tool/media/y4m.h"

namespace tallyburn::tool {

// The container and encoder a run would use, checked against the linked
// libraries before the script runs: the encoder exists, is a video encoder
// the container holds, and takes every option given (names and typed
// values; the encoder checks the rest when it opens).
struct MediaSettings {
  std::string path;
  std::string container;    // libavformat's muxer name: "mp4", "mov", "matroska", "mxf"
  std::string codec;        // the encoder's name: "libx264", "prores_ks"
  std::string options;      // "key=value:key=value", the user's after the container's defaults
  std::string audio_codec;  // the sound encoder a clip with sound of its own gets; "": the container's
};
// The clip's own sound: `count` samples of every channel from `start`,
// interleaved, in the clip's sample type (the host's GetAudio).
using SoundReader = std::function<void(void* buffer, int64_t start, int64_t count)>;

struct MediaRun {
  int first_frame = 0;                // the clip's frame the output starts with
  int frames = 0;                     // how many will be written
  std::optional<MediaOrigin> source;  // whose sound and timecode to keep
  std::optional<Y4mTags> y4m;         // a YUV4MPEG2 input's range and aspect
  SoundReader clip_sound;             // a clip with sound of its own: it replaces the source's
};

}  // namespace tallyburn::tool
