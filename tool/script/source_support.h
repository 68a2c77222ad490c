// What the tool's built-in sources share: the context they are registered
// with, their argument checks, and their registration.
#pragma once

#include <cstdint>
#include <string>

#include "frameserver/environment.h"
#include "tool/script/context.h"
#include "tool/script/source_stream.h"

namespace tallyburn::tool {

// The run's context, handed to every source as its user_data.
inline ToolContext& ContextOf(void* user_data) { return *static_cast<ToolContext*>(user_data); }

// A script error from one of the tool's own functions.
[[noreturn]] void Refuse(IScriptEnvironment* env, const std::string& message);

// The bars and blank clips come in the classic formats; raw frames in every
// format without alpha, by the host's name or ffmpeg's.
int PixelTypeByName(IScriptEnvironment* env, const char* function, const char* name, bool classic_only);

// Frame size and format, checked before anything is allocated for them.
VideoInfo CheckedVideo(IScriptEnvironment* env, const char* function, int width, int height, int pixel_type);

// fps as the frame server's scripts give it: a number, with
// fps_denominator when it is an integer numerator. Without either, NTSC.
void SetRate(IScriptEnvironment* env, const char* function, VideoInfo& vi, const AVSValue& fps, const AVSValue& den);

// Sets vi.num_frames: `length=` when the script gives it; a file's whole
// frames, from count(&cut); INT_MAX for a pipe, whose length is known only
// at its end.
template <typename Count>
Length SetLength(IScriptEnvironment* env, const char* function, const AVSValue& length, const InputStream& in,
                 VideoInfo& vi, bool* cut, Count count) {
  *cut = false;
  if (length.Defined()) {
    vi.num_frames = length.AsInt();
    if (vi.num_frames < 0) Refuse(env, std::string(function) + ": length must not be negative");
    return Length::kStated;
  }
  if (in.size() >= 0) {
    vi.num_frames = count(cut);
    return Length::kCounted;
  }
  vi.num_frames = INT32_MAX;
  return Length::kUnknown;
}

// Each kind of source registers its functions.
void RegisterPatternSources(frameserver::Environment& env, ToolContext& context);
void RegisterY4mSource(frameserver::Environment& env, ToolContext& context);
void RegisterRawSource(frameserver::Environment& env, ToolContext& context);
void RegisterMediaSource(frameserver::Environment& env, ToolContext& context);
void RegisterSourceTimecode(frameserver::Environment& env, ToolContext& context);

}  // namespace tallyburn::tool
