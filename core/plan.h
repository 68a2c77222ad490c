// A filter split from its host: a plan made once from the clip's shape and
// the function's arguments, then a render per frame into a frame view.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "core/frame_view.h"

namespace tallyburn {

// Burns frame n into a writable frame of the planned format and size. Keeps
// nothing between calls, so frames may come in any order and from threads.
class Painter {
 public:
  virtual ~Painter() = default;
  virtual void Render(int n, const FrameView& frame) const noexcept = 0;

 protected:
  Painter() = default;
  Painter(const Painter&) = default;
  Painter& operator=(const Painter&) = default;
};

// One of three outcomes: a painter; no painter (a format the filter does not
// draw: the door hands the source's frames on untouched); or a refusal with
// the message the host reports, beginning with the function's name.
struct Plan {
  std::unique_ptr<const Painter> painter;
  std::string error;

  static Plan Refuse(std::string message) { return Plan{nullptr, std::move(message)}; }
  static Plan PassThrough() noexcept { return Plan{}; }
  static Plan Draw(std::unique_ptr<const Painter> p) noexcept { return Plan{std::move(p), {}}; }

  bool refused() const noexcept { return !error.empty(); }
};

}  // namespace tallyburn
