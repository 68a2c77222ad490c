// Video files through FFmpeg's libraries: any container and codec they
// open, frame n the n-th in presentation order, read in any order. FFmpeg's
// types stay inside media_input.cpp: pictures leave as plane views.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tool/media/picture.h"

namespace tallyburn::tool {

struct MediaOptions {
  int track = 0;             // the n-th video stream of the file
  unsigned fps_num = 0;      // with fps_den: number frames at this rate, in
  unsigned fps_den = 0;      // presentation order, whatever their times
  bool any_spacing = false;  // frames in presentation order at the stream's rate, however far apart
};

// What the file holds, for --info and for the clip.
struct MediaFacts {
  std::string container;  // FFmpeg's long name of the format
  std::string codec;      // the decoder's name
  std::string decoded;    // the decoded pixel format's name ("yuv422p10le")
  std::string delivered;  // how frames come: "as decoded", or the conversion
  int stream_index = 0;   // in the file
  bool cut = false;       // the file ends inside its video: frames counted are those shown before the first cut off
};

class MediaInput final : public PictureReader {
 public:
  // Opens the file and its `track`-th video stream, and demuxes it once to
  // count its frames and place its key frames. Errors (ToolError) name the
  // file.
  static std::unique_ptr<MediaInput> Open(const std::string& path, const MediaOptions& options);
  ~MediaInput() override;
  MediaInput(const MediaInput&) = delete;
  MediaInput& operator=(const MediaInput&) = delete;

  const VideoInfo& info() const override;
  const std::string& name() const override;
  const MediaFacts& facts() const;
  // What a run that reads a cut file to its end says after its last frame.
  std::string CutMessage() const;
  // The presentation time of frame n, in seconds.
  double Time(int n) const;

  // Frame n in presentation order. Going forward it decodes
  // on; backwards, or far ahead, it seeks to the key frame before n and
  // decodes forward from there. The view is valid until the next call.
  const Picture& Frame(int n);
  // The next frame in presentation order, or nullptr at the end.
  const Picture* Next(bool luma_only) override;

  // The file's first sound stream, decoded as the frames are read forward
  // from the start and handed to `sink` as float samples, interleaved, in
  // the file's channels. False when the file has no sound (or no decoder
  // for it). Call before the first frame.
  using SoundSink = std::function<void(const float* interleaved, size_t frames, int channels)>;
  bool ReadSound(SoundSink sink);
  // The rest of the sound, after the last frame read; then the sound's
  // facts: its rate, and its first sample's presentation time in seconds
  // on the clock of Time().
  void FinishSound();
  int SoundRate() const;
  double SoundStart() const;
  // Why the sound could not be read in step with the frames, or "".
  const std::string& SoundTrouble() const;

  struct State;  // FFmpeg's contexts and the index, in media_input.cpp

 private:
  explicit MediaInput(std::unique_ptr<State> state);
  std::unique_ptr<State> s_;
};

// The pixel type frames of an FFmpeg pixel format come in, and whether they
// are converted to get there (exposed for the tests). 0: none.
int MediaPixelType(const std::string& ffmpeg_format, bool* converted);

}  // namespace tallyburn::tool
