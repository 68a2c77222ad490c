// Finds and reads the frame code in a picture's luma, at any scale from
// modules of about 2 pixels (an eighth of a 1080p burn, half of one at
// 320x180) to several times the size it was burned at, with its levels
// anywhere in the range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tallyburn::framecode {

// A plane of luma samples, top line first: 8-bit, 16-bit little-endian (of
// `bits` bits) or 32-bit float, `stride` bytes from one pixel's sample to
// the next (more than the sample in packed formats); a bottom-up picture
// is seen through its last line and a negative pitch.
struct LumaView {
  const uint8_t* data;
  ptrdiff_t pitch;
  int width;
  int height;
  int bytes_per_sample;  // 1, 2 or 4
  int bits;              // 8 to 16; 32 for float
  int stride;
};

class Reader {
 public:
  // The number the picture's strip carries, or nothing when no strip reads
  // whole (its start, stop and check all hold). Looks first on the line
  // where the last strip was found, then scans the picture from the top.
  std::optional<uint32_t> Read(const LumaView& luma);
  // The line the last number was read on (of the picture it was read
  // from), or -1 before any.
  int line() const noexcept { return last_y_; }

 private:
  struct Edge {
    float x;         // where the line crosses halfway between the levels either side
    float from, to;  // those levels: the extremes the line swings between
    bool rising;
  };

  std::optional<uint32_t> ReadLine(const LumaView& luma, int y, float swing, bool merged);  // line_ loaded
  std::optional<uint32_t> ReadSwings(const LumaView& luma, int y);
  std::optional<uint32_t> ReadEdges(const LumaView& luma, int y);
  std::optional<uint32_t> ReadClock(const LumaView& luma, int y, size_t first);
  void LoadLine(const LumaView& luma, int y, std::vector<float>& out) const;
  void FindEdges(float swing);
  bool MergeHalos();

  std::vector<float> line_, below_;
  std::vector<Edge> edges_;
  int last_y_ = -1;
  float last_swing_ = 0, swing_ = 0;
  bool last_merged_ = false, merged_swing_ = false;  // the swing's halos dropped
};

}  // namespace tallyburn::framecode
