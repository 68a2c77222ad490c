#include "tests/support/plugin_host.h"

#include <cstring>

namespace tallyburn::testing {

const char* FormatName(int pixel_type) {
  switch (pixel_type) {
    case kRgb24: return "RGB24";
    case kRgb32: return "RGB32";
    case kYuy2: return "YUY2";
    case kYv12: return "YV12";
    case kI420: return "I420";
    default: return "other";
  }
}

std::string PluginHost::ErrorOf(const std::string& function, const std::vector<Argument>& args) {
  try {
    env.Call(function, args);
  } catch (const frameserver::HostError& e) {
    return e.what();
  }
  return "";
}

std::vector<ByteAt> Differences(Environment& env, const PVideoFrame& a, const PVideoFrame& b) {
  const auto* pa = env.frames().Planes(a.get());
  const auto* pb = env.frames().Planes(b.get());
  std::vector<ByteAt> out;
  if (pa == nullptr || pb == nullptr || pa->size() != pb->size()) {
    ADD_FAILURE() << "frames not comparable";
    return out;
  }
  for (size_t i = 0; i < pa->size(); ++i) {
    const frameserver::PlaneGeometry& ga = (*pa)[i];
    const frameserver::PlaneGeometry& gb = (*pb)[i];
    for (int line = 0; line < ga.height; ++line) {
      const uint8_t* ra = a->vfb->data + ga.offset + static_cast<size_t>(line) * ga.pitch;
      const uint8_t* rb = b->vfb->data + gb.offset + static_cast<size_t>(line) * gb.pitch;
      if (std::memcmp(ra, rb, static_cast<size_t>(ga.row_size)) == 0) continue;
      for (int c = 0; c < ga.row_size; ++c)
        if (ra[c] != rb[c]) out.push_back({ga.plane, line, c});
    }
  }
  return out;
}

void ExpectChangedOnlyIn(Environment& env, const PVideoFrame& out, const PVideoFrame& src,
                         const std::vector<Region>& allowed) {
  int reported = 0;
  for (const ByteAt& b : Differences(env, out, src)) {
    bool inside = false;
    for (const Region& r : allowed) inside = inside || r.Contains(b);
    if (!inside && reported++ < 5)
      ADD_FAILURE() << "byte changed outside the box: plane " << b.plane << ", line " << b.line << ", column "
                    << b.column;
  }
}

uint8_t ByteOf(Environment& env, const PVideoFrame& frame, int plane, int line, int column) {
  for (const frameserver::PlaneGeometry& g : *env.frames().Planes(frame.get()))
    if (g.plane == plane) {
      if (line < 0 || line >= g.height || column < 0 || column >= g.row_size) {
        ADD_FAILURE() << "outside the picture: plane " << plane << " line " << line << " column " << column;
        return 0;
      }
      return frame->vfb->data[g.offset + static_cast<size_t>(line) * g.pitch + static_cast<size_t>(column)];
    }
  ADD_FAILURE() << "no plane " << plane;
  return 0;
}

long RefCount(IClip* clip) {
  long count;
  std::memcpy(&count, reinterpret_cast<const char*>(clip) + sizeof(void*), sizeof count);
  return count;
}

}  // namespace tallyburn::testing
