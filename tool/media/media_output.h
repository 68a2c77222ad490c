// Encoded video in a media container (MP4, MOV, MKV, MXF, ...) through
// FFmpeg's libraries: the container from the file's extension, the encoder
// by name with its own options. With the script's one media source, its
// sound and its start timecode follow the frames written. FFmpeg's types
// stay inside: frames come in as the host's frames.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "avisynth.h"
#include "tool/media/run_inputs.h"
#include "tool/media/sinks.h"
#include "tool/media/y4m.h"

namespace tallyburn::tool {

// Whether libavformat has a muxer for the path's extension.
bool IsMediaPath(const std::string& path);

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
// Throws UsageError naming what is wrong.
MediaSettings CheckMediaSettings(const std::string& path, const std::string& codec, const std::string& options,
                                 const std::string& audio_codec = "");

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

// Opens the encoder (its own refusals are a ToolError, before any file is
// made), then the output's temporary file beside `settings.path`.
std::unique_ptr<FrameSink> OpenMediaSink(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run);

// One line for --info: "mp4, libx264 in yuv420p; sound 1 (aac) copied; timecode 01:00:00:00".
std::string DescribeMediaOutput(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run);

}  // namespace tallyburn::tool
