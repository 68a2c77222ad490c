// A clip's own sound (its GetAudio) in a media output, read in step with
// the frames written and encoded; it replaces the source's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "avisynth.h"
#include "tool/media/ffmpeg.h"
#include "tool/media/media_run.h"
#include "tool/media/muxer.h"
#include "tool/media/sound_encoder.h"

namespace tallyburn::tool {

// The encoder of a clip's own sound: the one asked for; else PCM of the
// clip's own sample type where the container holds it (MOV, MKV, AVI, ...)
// and not MP4, whose players expect AAC; else the container's own codec.
const AVCodec* ClipSoundEncoder(const AVOutputFormat* format, const std::string& asked, int sample_type);

// The clip's sample at the start of its frame k, as the sound filters
// count it: k * den * rate / num, rounded up.
int64_t SampleOfClipFrame(const VideoInfo& vi, int64_t k);

class ClipSound {
 public:
  ClipSound(const MediaSettings& settings, const VideoInfo& vi, const MediaRun& run, const AVOutputFormat* container);
  void AddStream(Muxer& muxer) { encoder_->AddStream(muxer); }
  // The sound up to the clip's sample `upto` into the encoder; `at_end`:
  // the run has written its last frame.
  void Pull(int64_t upto, bool at_end);
  int64_t end() const { return end_; }

 private:
  VideoInfo vi_;
  SoundReader read_;
  int64_t end_ = 0;               // the sample after the output's last
  int64_t next_ = 0;              // the next sample to read
  std::vector<uint8_t> samples_;  // one read
  std::unique_ptr<SoundEncoder> encoder_;
};

}  // namespace tallyburn::tool
