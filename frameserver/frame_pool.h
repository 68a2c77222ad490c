// Frame allocation for the host: aligned pitches, half-size chroma planes,
// and guard bytes around every plane (and in every row's padding), so that a
// write outside the picture is seen when the frame comes back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "avisynth.h"

namespace tallyburn::frameserver {

struct FrameLayout {
  int align = 16;   // pitch and plane alignment
  int row_pad = 8;  // at least this many padding bytes after every row
  // Planes end at their last byte: pitch equals the row size, and the guard
  // after the last plane ends the allocation (so AddressSanitizer sees any
  // write past it).
  bool tight = false;
};

// The alpha plane of YUVA and planar RGBA frames: the 2.5 interface has no
// slot for it, so a plug-in never sees it; we keep it to check that.
inline constexpr int kPlaneAlpha = 8;

struct PlaneGeometry {
  int plane;      // PLANAR_Y for the single plane of packed formats; G, B, R
                  // of planar RGB sit in the Y, U and V slots
  size_t offset;  // from the buffer's data pointer
  int row_size;   // bytes
  int height;
  int pitch;
};

// Byte layout of every plane of a frame in pixel_type, as this host stores
// it; also knows the newer hosts' formats, to hand them to a plug-in.
std::vector<PlaneGeometry> PlaneLayout(const VideoInfo& vi, const FrameLayout& layout, size_t guard);

class FramePool {
 public:
  static constexpr size_t kGuardBytes = 64;
  static constexpr uint8_t kGuardValue = 0xA5;

  explicit FramePool(FrameLayout layout = {});
  ~FramePool();
  FramePool(const FramePool&) = delete;
  FramePool& operator=(const FramePool&) = delete;

  // A frame with one reference (the returned handle), exclusive, its
  // picture bytes unspecified. Reuses a released frame of the same format.
  PVideoFrame New(const VideoInfo& vi);
  // A copy of `frame` in a fresh buffer (MakeWritable's copy).
  PVideoFrame Copy(const PVideoFrame& frame);

  // Throws GuardError naming the frame and plane when a byte outside the
  // picture changed. Frames this pool did not make are not checked.
  void CheckGuards(const VideoFrame* frame, int n) const;

  const std::vector<PlaneGeometry>* Planes(const VideoFrame* frame) const;

  size_t frames_allocated() const { return slots_.size(); }
  size_t copies() const { return copies_; }

 private:
  struct Slot;
  Slot* Find(const VideoFrame* frame) const;

  FrameLayout layout_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::unordered_map<const VideoFrame*, Slot*> by_frame_;
  size_t copies_ = 0;
};

}  // namespace tallyburn::frameserver
