// A deterministic test source: every byte of every frame depends on the
// frame number, plane, line and column, so a test sees any changed byte.
#pragma once

#include <atomic>
#include <cstdint>

#include "avisynth.h"
#include "frameserver/environment.h"

namespace tallyburn::frameserver {

struct SourceParams {
  int width = 640;
  int height = 480;
  int pixel_type = VideoInfo::CS_YV12;
  unsigned fps_numerator = 25;
  unsigned fps_denominator = 1;
  int num_frames = 100;
  int audio_rate = 48000;
  int channels = 2;
  // Keep the last frame handed out, as a cache would, and hand the same
  // frame out again for the same n: consumers get it shared, and
  // MakeWritable has to copy.
  bool shared_frames = false;
};

// The picture byte of frame n at (plane, line, byte column), line 0 the
// first line in memory.
uint8_t SourceByte(int n, int plane, int line, int column) noexcept;
// The audio byte at `index` bytes into the 16-bit sample stream.
uint8_t AudioByte(int64 index) noexcept;

class SyntheticClip final : public IClip {
 public:
  SyntheticClip(Environment& env, const SourceParams& params);
  ~SyntheticClip() override;

  // Instances alive now, for leak checks.
  static int live() { return live_.load(); }

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override;
  bool __stdcall GetParity(int n) override { return n % 2 == 0; }
  void __stdcall GetAudio(void* buf, int64 start, int64 count, IScriptEnvironment* env) override;
  int __stdcall SetCacheHints(int, int) override { return 0; }
  const VideoInfo& __stdcall GetVideoInfo() override { return vi_; }

 private:
  static std::atomic<int> live_;
  Environment& env_;
  VideoInfo vi_{};
  bool shared_;
  PVideoFrame last_;
  int last_n_ = 0;
};

}  // namespace tallyburn::frameserver
