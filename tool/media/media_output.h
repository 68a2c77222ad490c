// Encoded video in a media container (MP4, MOV, MKV, MXF, ...) through
// FFmpeg's libraries: the container from the file's extension, the encoder
// by name with its own options. With the script's one media source, its
// sound and its start timecode follow the frames written. FFmpeg's types
// stay inside: frames come in as the host's frames.
#pragma once

#include <memory>
#include <string>

#include "avisynth.h"
#include "tool/media/media_run.h"
#include "tool/media/sinks.h"

namespace tallyburn::tool {

// Whether libavformat has a muxer for the path's extension.
bool IsMediaPath(const std::string& path);

// The settings for `path`, checked before the script runs; throws
// UsageError naming what is wrong.
MediaSettings CheckMediaSettings(const std::string& path, const std::string& codec, const std::string& options,
                                 const std::string& audio_codec = "");

// Opens the encoder (its own refusals are a ToolError, before any file is
// made), then the output's temporary file beside `settings.path`.
std::unique_ptr<FrameSink> OpenMediaSink(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run);

// One line for --info: "mp4, libx264 in yuv420p; sound 1 (aac) copied; timecode 01:00:00:00".
std::string DescribeMediaOutput(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run);

}  // namespace tallyburn::tool
