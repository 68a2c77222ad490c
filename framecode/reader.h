// Finds and reads the frame code in a picture's luma, at any scale from
// modules of about 2 pixels (an eighth of a 1080p burn, half of one at
// 320x180) to several times the size it was burned at, with its levels
// anywhere in the range.
#pragma once

#include <algorithm>
#include <cmath>
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
  // whole (its start, stop and check all hold). Looks first where the last
  // strip was found, then scans the picture's lines from the top; where no
  // line crosses a whole clock (a strip turned up to about 10 degrees, seen
  // at an angle or bent by a lens), follows the pieces of clock the lines
  // crossed along a fitted line or gentle curve.
  std::optional<uint32_t> Read(const LumaView& luma);
  // The line the last number was read on (of the picture it was read
  // from; the middle of the strip's clock where it was not level), or -1
  // before any.
  int line() const noexcept { return last_y_; }

 private:
  struct Edge {
    float x;         // where the line crosses halfway between the levels either side
    float from, to;  // those levels: the extremes the line swings between
    bool rising;
  };
  // A run of equal intervals between edges on a scan line: a piece of a
  // clock crossed at an angle, or of anything as regular.
  struct Fragment {
    float x0, x1;
    int y;
    int intervals;
  };
  // A clock row's middle across the picture: y at evenly spaced x, straight
  // between them (a turned row is a line, one seen through a lens a gentle
  // curve) and beyond the first and last on the slope of the few nearest.
  static constexpr int kMostAnchors = 64;
  struct Path {
    double x0, step;
    int count;  // 2 or more
    double ys[kMostAnchors];
    double module;  // the pieces' period, in pixels along x
    double first_slope, last_slope;
    double dy(double x) const noexcept {
      const double t = (x - x0) / step;
      if (t < 0) return first_slope;
      if (t > count - 1) return last_slope;
      const int i = std::min(static_cast<int>(t), count - 2);
      return (ys[i + 1] - ys[i]) / step;
    }
    double y(double x) const noexcept {
      const double t = (x - x0) / step;
      if (t < 0) return ys[0] + t * step * first_slope;
      if (t > count - 1) return ys[count - 1] + (t - (count - 1)) * step * last_slope;
      const int i = std::min(static_cast<int>(t), count - 2);
      return ys[i] + (t - i) * (ys[i + 1] - ys[i]);
    }
    double first() const noexcept { return x0; }
    double last() const noexcept { return x0 + (count - 1) * step; }
  };

  std::optional<uint32_t> ReadLine(const LumaView& luma, int y, float swing, bool merged);  // line_ loaded
  std::optional<uint32_t> ReadSwings(const LumaView& luma, int y);
  std::optional<uint32_t> ReadEdges(const LumaView& luma, int y);
  std::optional<uint32_t> ReadClock(const LumaView& luma, int y, size_t first);
  void LoadLine(const LumaView& luma, int y, std::vector<float>& out) const;
  void FindEdges(float swing);
  bool MergeHalos();
  void CollectFragments(int y);
  std::optional<uint32_t> SearchPaths(const LumaView& luma);
  bool FitPath(const Fragment& seed, double angle, Path* path);
  std::optional<uint32_t> ReadPath(const LumaView& luma, const Path& path);
  // Samples from..to of the path's width (all of it by default).
  void SamplePath(const LumaView& luma, const Path& path, double across, double modules, double spread,
                  std::vector<float>& out, int from = 0, int to = INT32_MAX) const;

  std::vector<float> line_, below_;
  std::vector<Edge> edges_;
  std::vector<Edge> smallest_edges_;  // the scan line's at the smallest swing, found before its swings are tried
  bool smallest_found_ = false;
  std::vector<Fragment> fragments_;  // the scan's, top line first
  std::vector<uint8_t> spent_;       // fragments on a path tried
  std::vector<float> anchor_ys_[kMostAnchors];
  const Path* path_ = nullptr;        // the path line_ was sampled along, or none for a scan line
  double path_across_ = 0;            // how far off the path line_ was sampled
  int path_x0_ = 0, path_width_ = 0;  // the x line_ starts at, and its length, along the path
  Path last_path_{};
  bool last_on_path_ = false;
  double found_x_ = 0;  // the middle of the last strip read, along its line
  int last_y_ = -1;
  float last_swing_ = 0, swing_ = 0;
  bool last_merged_ = false, merged_swing_ = false;  // the swing's halos dropped
  bool halos_dropped_ = false;                       // from the edges being read
  int below_y_ = -1;                                 // the line below_ holds, or -1
};

}  // namespace tallyburn::framecode
