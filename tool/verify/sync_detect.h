// Finds TallySync's marks (sync/marks_layout.h) in sound at any rate: each
// mark's onset, to a small fraction of a millisecond, and its pitch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tallyburn::tool {

// A mark is timed by its sweep's start, which may lie this far before the
// first sample pushed (a start a codec's pre-skip took): the sweep's rest
// still times it.
inline constexpr double kMarkStartsBefore = 0.005;

struct FoundMark {
  double time = 0;   // seconds from the first sample pushed; -kMarkStartsBefore at the earliest
  int pitch = -1;    // index in the pitch table; -1: unreadable
  double match = 0;  // the sweep's normalised correlation, 0 to 1
  double level = 0;  // the mark's peak, dBFS
};

// Takes the sound in pieces of any size, mixed to mono, and finds the
// marks as it goes; it holds about a tenth of a second of sound.
class MarkDetector {
 public:
  explicit MarkDetector(int rate);

  // frames samples of each of channels, interleaved.
  void Push(const float* interleaved, size_t frames, int channels);
  // The marks found, once the sound has ended.
  std::vector<FoundMark> Finish();

 private:
  void Mono(float sample);
  void Scan(bool ending);
  void Measure(int64_t near);
  float At(int64_t n) const noexcept;

  int rate_;
  int block_;                               // samples in an energy block, about 1 ms
  std::vector<float> sweep_re_, sweep_im_;  // the sweep's template, its envelope in both
  double sweep_norm_ = 0;                   // sqrt of the template's energy
  int mark_samples_ = 0;
  int search_before_ = 0, search_after_ = 0;  // where the onset is looked for, around a rise
  std::vector<float> held_;                   // mono samples from held_from_
  int64_t held_from_ = 0;
  int64_t pushed_ = 0;          // samples in so far
  std::vector<double> blocks_;  // mean squares of whole blocks, from block blocks_from_
  int64_t blocks_from_ = 0;
  double block_sum_ = 0;
  int block_fill_ = 0;
  int64_t next_block_ = 0;   // the next block Scan looks at
  int64_t quiet_until_ = 0;  // a mark's own sound, ignored: first sample after it
  std::vector<FoundMark> marks_;
};

// The marks in one buffer.
std::vector<FoundMark> FindMarks(const float* interleaved, size_t frames, int channels, int rate);

}  // namespace tallyburn::tool
