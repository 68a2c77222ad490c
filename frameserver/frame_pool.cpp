#include "frameserver/frame_pool.h"

#include <cstring>
#include <new>
#include <optional>

#include "core/pixel_format.h"
#include "frameserver/errors.h"

namespace tallyburn::frameserver {
namespace {

size_t RoundUp(size_t v, size_t align) { return align <= 1 ? v : (v + align - 1) / align * align; }

// Luma (or packed) row bytes and the chroma plane size, in bytes and lines.
struct FormatShape {
  int row_bytes;
  int chroma_row_bytes;  // 0: packed or grey, a single plane
  int chroma_height;
  bool u_first;  // memory order of the chroma planes (YV12 keeps V first)
  bool alpha_plane;
};

// Every format the plug-in knows, stored as a current host stores it.
FormatShape Shape(const VideoInfo& vi) {
  const std::optional<PixelFormat> f = DescribePixelType(vi.pixel_type);
  if (!f) throw HostError("NewVideoFrame: unknown pixel type " + std::to_string(vi.pixel_type));
  const int w = vi.width, h = vi.height, bytes = f->bytes_per_sample;
  switch (f->family) {
    case Family::kPackedRgb:
    case Family::kYuy2: return {w * f->channels * bytes, 0, 0, false, false};
    case Family::kGrey: return {w * bytes, 0, 0, false, false};
    case Family::kPlanarYuv:
    case Family::kPlanarRgb: break;
  }
  return {w * bytes, (w >> f->log2_chroma_w) * bytes, h >> f->log2_chroma_h, vi.pixel_type != VideoInfo::CS_YV12,
          f->alpha};
}

}  // namespace

std::vector<PlaneGeometry> PlaneLayout(const VideoInfo& vi, const FrameLayout& layout, size_t guard) {
  if (vi.width <= 0 || vi.height <= 0) throw HostError("NewVideoFrame: frame size must be positive");
  const FormatShape s = Shape(vi);
  const size_t align = layout.tight ? 1 : static_cast<size_t>(layout.align);
  auto pitch_for = [&](int row) {
    return layout.tight
               ? row
               : static_cast<int>(RoundUp(static_cast<size_t>(row) + static_cast<size_t>(layout.row_pad), align));
  };

  std::vector<PlaneGeometry> planes;
  size_t at = guard;
  auto add = [&](int plane, int row, int height) {
    at = RoundUp(at, align);
    const PlaneGeometry g{plane, at, row, height, pitch_for(row)};
    at += static_cast<size_t>(g.pitch) * static_cast<size_t>(height) + guard;
    planes.push_back(g);
  };
  add(PLANAR_Y, s.row_bytes, vi.height);
  if (s.chroma_row_bytes > 0 && s.chroma_height > 0) {
    add(s.u_first ? PLANAR_U : PLANAR_V, s.chroma_row_bytes, s.chroma_height);
    add(s.u_first ? PLANAR_V : PLANAR_U, s.chroma_row_bytes, s.chroma_height);
  }
  if (s.alpha_plane) add(kPlaneAlpha, s.row_bytes, vi.height);
  return planes;
}

struct FramePool::Slot {
  VideoInfo vi{};
  std::vector<PlaneGeometry> planes;
  size_t size = 0;
  uint8_t* storage = nullptr;
  VideoFrameBuffer vfb{};
  VideoFrame frame{};

  ~Slot() { ::operator delete[](storage, std::align_val_t{64}); }

  const PlaneGeometry* plane(int id) const {
    for (const auto& p : planes)
      if (p.plane == id) return &p;
    return nullptr;
  }
  bool Free() const { return frame.refcount == 0 && vfb.refcount == 0; }

  // Every byte outside the pictures: the gaps around planes and the padding
  // after every row.
  template <typename F>
  void ForEachGuardRun(F&& f) const {
    size_t at = 0;
    for (const auto& p : planes) {
      f(p, at, p.offset - at, -1);  // before the plane
      for (int r = 0; r < p.height; ++r) {
        const size_t row = p.offset + static_cast<size_t>(r) * p.pitch;
        f(p, row + p.row_size, static_cast<size_t>(p.pitch - p.row_size), r);
      }
      at = p.offset + static_cast<size_t>(p.pitch) * p.height;
    }
    f(planes.back(), at, size - at, -2);  // after the last plane
  }

  void FillGuards() {
    ForEachGuardRun(
        [&](const PlaneGeometry&, size_t at, size_t len, int) { std::memset(storage + at, kGuardValue, len); });
  }
};

FramePool::FramePool(FrameLayout layout) : layout_(layout) {}
FramePool::~FramePool() = default;

PVideoFrame FramePool::New(const VideoInfo& vi) {
  for (auto& slot : slots_) {
    if (slot->Free() && slot->vi.pixel_type == vi.pixel_type && slot->vi.width == vi.width &&
        slot->vi.height == vi.height) {
      slot->FillGuards();
      slot->vfb.refcount = 1;
      return PVideoFrame(&slot->frame);
    }
  }

  auto slot = std::make_unique<Slot>();
  slot->vi = vi;
  slot->planes = PlaneLayout(vi, layout_, kGuardBytes);
  const PlaneGeometry& last = slot->planes.back();
  slot->size = last.offset + static_cast<size_t>(last.pitch) * last.height + kGuardBytes;
  if (slot->size > static_cast<size_t>(INT32_MAX)) throw HostError("NewVideoFrame: frame too large");
  slot->storage = static_cast<uint8_t*>(::operator new[](slot->size, std::align_val_t{64}));
  std::memset(slot->storage, kGuardValue, slot->size);

  const PlaneGeometry* y = slot->plane(PLANAR_Y);
  const PlaneGeometry* u = slot->plane(PLANAR_U);
  const PlaneGeometry* v = slot->plane(PLANAR_V);
  slot->vfb = VideoFrameBuffer{slot->storage, static_cast<int>(slot->size), 0, 1};
  slot->frame = VideoFrame{0,
                           &slot->vfb,
                           static_cast<int>(y->offset),
                           y->pitch,
                           y->row_size,
                           y->height,
                           u ? static_cast<int>(u->offset) : 0,
                           v ? static_cast<int>(v->offset) : 0,
                           u ? u->pitch : 0};
  Slot* raw = slot.get();
  by_frame_[&raw->frame] = raw;
  slots_.push_back(std::move(slot));
  return PVideoFrame(&raw->frame);
}

PVideoFrame FramePool::Copy(const PVideoFrame& frame) {
  const Slot* src = Find(frame.get());
  if (src == nullptr) throw HostError("MakeWritable: frame was not made by this host");
  PVideoFrame copy = New(src->vi);
  const Slot* dst = Find(copy.get());
  for (size_t i = 0; i < src->planes.size(); ++i) {
    const PlaneGeometry& s = src->planes[i];
    const PlaneGeometry& d = dst->planes[i];
    for (int r = 0; r < s.height; ++r)
      std::memcpy(dst->storage + d.offset + static_cast<size_t>(r) * d.pitch,
                  src->storage + s.offset + static_cast<size_t>(r) * s.pitch, static_cast<size_t>(s.row_size));
  }
  ++copies_;
  return copy;
}

void FramePool::CheckGuards(const VideoFrame* frame, int n) const {
  const Slot* slot = Find(frame);
  if (slot == nullptr) return;
  slot->ForEachGuardRun([&](const PlaneGeometry& p, size_t at, size_t len, int row) {
    for (size_t i = 0; i < len; ++i) {
      if (slot->storage[at + i] == kGuardValue) continue;
      const char* name = slot->planes.size() == 1 ? "packed"
                         : p.plane == PLANAR_Y    ? "Y"
                         : p.plane == PLANAR_U    ? "U"
                         : p.plane == PLANAR_V    ? "V"
                                                  : "A";
      std::string where;
      if (row >= 0)
        where = "row " + std::to_string(row) + ", " + std::to_string(i + 1) + " byte(s) past the row end";
      else if (row == -1)
        where = std::to_string(len - i) + " byte(s) before the plane";
      else
        where = std::to_string(i + 1) + " byte(s) past the last plane";
      throw GuardError("frame " + std::to_string(n) + ", plane " + name + ": byte written outside the picture (" +
                       where + ")");
    }
  });
}

const std::vector<PlaneGeometry>* FramePool::Planes(const VideoFrame* frame) const {
  const Slot* slot = Find(frame);
  return slot ? &slot->planes : nullptr;
}

FramePool::Slot* FramePool::Find(const VideoFrame* frame) const {
  const auto it = by_frame_.find(frame);
  return it == by_frame_.end() ? nullptr : it->second;
}

}  // namespace tallyburn::frameserver
