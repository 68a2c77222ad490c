// A media file's start timecode, as its container records it: a QuickTime
// or MP4 timecode track, MXF's material package, or a `timecode` tag on a
// stream or the file, all of which libavformat reads into the tag. And the
// label a later frame has, for an output that starts there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tallyburn::tool {

struct StartTimecode {
  std::string label;  // "01:00:00;00": ';' before the frames in drop-frame
  // The rate the labels count at: the timecode track's, else the video's
  // (0/0 when the file does not say).
  int rate_numerator = 0;
  int rate_denominator = 0;
};

// The start timecode of the file at `path`: the tag of the video stream
// `video_stream` (-1: the file's first video stream), else of a timecode
// track, else of the file. Nothing when it has none; ToolError when the
// file cannot be opened.
std::optional<StartTimecode> ReadStartTimecode(const std::string& path, int video_stream = -1);

// The label `frames` frames after `start` at the clip's rate, in the same
// counting (drop-frame when the start has ';'). Nothing when the start is
// not a label at that rate.
std::optional<std::string> MoveTimecode(const std::string& start, uint32_t fps_numerator, uint32_t fps_denominator,
                                        int64_t frames);

}  // namespace tallyburn::tool
