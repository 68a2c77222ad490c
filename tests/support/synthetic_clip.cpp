#include "tests/support/synthetic_clip.h"

#include <cstring>

namespace tallyburn::frameserver {

std::atomic<int> SyntheticClip::live_{0};

uint8_t SourceByte(int n, int plane, int line, int column) noexcept {
  uint32_t h = static_cast<uint32_t>(n) * 0x9E3779B1u ^ static_cast<uint32_t>(plane) * 0x85EBCA77u;
  h ^= static_cast<uint32_t>(line) * 0xC2B2AE3Du + static_cast<uint32_t>(column) * 0x27D4EB2Fu;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return static_cast<uint8_t>(h);
}

uint8_t AudioByte(int64 index) noexcept { return static_cast<uint8_t>(index * 7 + (index >> 8)); }

SyntheticClip::SyntheticClip(Environment& env, const SourceParams& params) : env_(env), shared_(params.shared_frames) {
  vi_.width = params.width;
  vi_.height = params.height;
  vi_.fps_numerator = params.fps_numerator;
  vi_.fps_denominator = params.fps_denominator;
  vi_.num_frames = params.num_frames;
  vi_.pixel_type = params.pixel_type;
  vi_.audio_samples_per_second = params.audio_rate;
  vi_.sample_type = VideoInfo::SAMPLE_INT16;
  vi_.nchannels = params.channels;
  vi_.num_audio_samples =
      params.fps_numerator == 0 || params.audio_rate == 0
          ? 0
          : static_cast<int64>(params.num_frames) * params.audio_rate * params.fps_denominator / params.fps_numerator;
  ++live_;
}

SyntheticClip::~SyntheticClip() { --live_; }

PVideoFrame __stdcall SyntheticClip::GetFrame(int n, IScriptEnvironment*) {
  if (shared_ && last_ && last_n_ == n) return last_;
  PVideoFrame frame = env_.NewVideoFrame(vi_);
  uint8_t* data = frame->vfb->data;
  for (const PlaneGeometry& p : *env_.frames().Planes(frame.get()))
    for (int line = 0; line < p.height; ++line) {
      uint8_t* row = data + p.offset + static_cast<size_t>(line) * p.pitch;
      for (int c = 0; c < p.row_size; ++c) row[c] = SourceByte(n, p.plane, line, c);
    }
  if (shared_) {
    last_ = frame;
    last_n_ = n;
  }
  return frame;
}

void __stdcall SyntheticClip::GetAudio(void* buf, int64 start, int64 count, IScriptEnvironment*) {
  const int64 bytes_per_sample = 2 * static_cast<int64>(vi_.nchannels);
  auto* out = static_cast<uint8_t*>(buf);
  for (int64 i = 0; i < count * bytes_per_sample; ++i) out[i] = AudioByte(start * bytes_per_sample + i);
}

}  // namespace tallyburn::frameserver
