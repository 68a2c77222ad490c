// The host's guard bytes catch every write outside a frame's pictures.
#include <gtest/gtest.h>

#include <cstring>

#include "frameserver/errors.h"
#include "frameserver/frame_pool.h"

namespace tallyburn::frameserver {
namespace {

VideoInfo Format(int pixel_type, int width, int height) {
  VideoInfo vi{};
  vi.width = width;
  vi.height = height;
  vi.pixel_type = pixel_type;
  return vi;
}

std::string GuardMessage(FramePool& pool, const PVideoFrame& f) {
  try {
    pool.CheckGuards(f.get(), 42);
  } catch (const GuardError& e) {
    return e.what();
  }
  return "";
}

TEST(FramePoolTest, PlanesAreAlignedPaddedAndHalfSizeForChroma) {
  FramePool pool;
  const PVideoFrame f = pool.New(Format(VideoInfo::CS_I420, 100, 50));
  const auto& planes = *pool.Planes(f.get());
  ASSERT_EQ(planes.size(), 3u);
  EXPECT_EQ(planes[0].plane, PLANAR_Y);
  EXPECT_EQ(planes[1].plane, PLANAR_U);  // I420 keeps U first, YV12 V first
  EXPECT_EQ(planes[1].row_size, 50);
  EXPECT_EQ(planes[1].height, 25);
  for (const auto& p : planes) {
    EXPECT_EQ(p.pitch % 16, 0);
    EXPECT_GT(p.pitch, p.row_size);
    EXPECT_EQ(p.offset % 16, 0u);
  }
  EXPECT_EQ(f->GetReadPtr(PLANAR_U), f->vfb->data + planes[1].offset);
  const PVideoFrame yv12 = pool.New(Format(VideoInfo::CS_YV12, 100, 50));
  EXPECT_EQ((*pool.Planes(yv12.get()))[1].plane, PLANAR_V);
}

TEST(FramePoolTest, FramesWrittenOnlyInsideTheirPicturesPass) {
  FramePool pool;
  const PVideoFrame g = pool.New(Format(VideoInfo::CS_YV12, 64, 16));
  for (const auto& p : *pool.Planes(g.get()))
    for (int r = 0; r < p.height; ++r) std::memset(g->vfb->data + p.offset + size_t(r) * p.pitch, 1, p.row_size);
  EXPECT_EQ(GuardMessage(pool, g), "");
}

TEST(FramePoolTest, WritesPastEveryEdgeAreReportedWithFrameAndPlane) {
  struct Case {
    int plane;
    int line;  // -1: the byte before the plane
    const char* message;
  };
  const Case cases[] = {
      {PLANAR_Y, 0, "frame 42, plane Y: byte written outside the picture (row 0, 1 byte(s) past the row end)"},
      {PLANAR_Y, 15, "frame 42, plane Y: byte written outside the picture (row 15, 1 byte(s) past the row end)"},
      {PLANAR_U, 7, "frame 42, plane U: byte written outside the picture (row 7, 1 byte(s) past the row end)"},
      {PLANAR_V, -1, "frame 42, plane V: byte written outside the picture (1 byte(s) before the plane)"},
  };
  for (const Case& c : cases) {
    FramePool pool;
    const PVideoFrame f = pool.New(Format(VideoInfo::CS_YV12, 64, 16));
    for (const auto& p : *pool.Planes(f.get())) {
      if (p.plane != c.plane) continue;
      const ptrdiff_t past = c.line < 0 ? -1 : ptrdiff_t(c.line) * p.pitch + p.row_size;
      uint8_t* at = f->vfb->data + static_cast<ptrdiff_t>(p.offset) + past;
      *at = 0;
    }
    EXPECT_EQ(GuardMessage(pool, f), c.message);
  }
}

TEST(FramePoolTest, TightFramesHaveNoPaddingAndEndAtTheirLastGuard) {
  FramePool pool(FrameLayout{.tight = true});
  const PVideoFrame f = pool.New(Format(VideoInfo::CS_BGR24, 33, 5));
  const auto& p = (*pool.Planes(f.get()))[0];
  EXPECT_EQ(p.pitch, 99);
  EXPECT_EQ(static_cast<size_t>(f->vfb->data_size), p.offset + 99 * 5 + FramePool::kGuardBytes);
  f->vfb->data[p.offset + 99 * 5] = 0;  // one past the last byte
  EXPECT_EQ(GuardMessage(pool, f),
            "frame 42, plane packed: byte written outside the picture (1 byte(s) past the last plane)");
}

TEST(FramePoolTest, ReleasedFramesAreReusedAndCopiesCounted) {
  FramePool pool;
  const VideoInfo vi = Format(VideoInfo::CS_YUY2, 32, 8);
  VideoFrame* first = nullptr;
  {
    const PVideoFrame f = pool.New(vi);
    first = f.get();
    std::memset(f->GetWritePtr() + f->GetRowSize(), 0, 4);  // dirty a guard
  }
  const PVideoFrame again = pool.New(vi);
  EXPECT_EQ(again.get(), first);
  EXPECT_EQ(GuardMessage(pool, again), "");  // guards refilled on reuse
  const PVideoFrame copy = pool.Copy(again);
  EXPECT_NE(copy.get(), again.get());
  EXPECT_EQ(pool.copies(), 1u);
  EXPECT_EQ(pool.frames_allocated(), 2u);
}

}  // namespace
}  // namespace tallyburn::frameserver
