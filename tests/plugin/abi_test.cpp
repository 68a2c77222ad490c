// The inline behaviour of the interface header that both sides of the
// boundary compile: value semantics, reference counts and frame access.
#include <gtest/gtest.h>

#include "tests/support/plugin_host.h"

namespace tallyburn::testing {
namespace {

TEST(AbiTest, ValuesIndexAndDefaultAsTheInterfaceSays) {
  const AVSValue seven(7);
  EXPECT_EQ(&seven[0], &seven);  // a lone value stands for element 0
  EXPECT_EQ(&seven[3], &seven);
  EXPECT_EQ(AVSValue("x").AsInt(-4), -4);
  EXPECT_EQ(AVSValue().AsInt(0), 0);
  EXPECT_EQ(AVSValue(true).AsInt(9), 9);

  const AVSValue items[2] = {AVSValue(1), AVSValue(2)};
  const AVSValue array(items, 2);
  EXPECT_EQ(array[1].AsInt(0), 2);
  EXPECT_EQ(&array[2], &array);  // past the end: the array itself
  EXPECT_EQ(array[2].AsInt(0), 0);
}

class ClipValueTest : public PluginHost {};

TEST_F(ClipValueTest, AClipValueOwnsOneReference) {
  const PClip src = Source({});
  EXPECT_EQ(RefCount(src.get()), 1);
  {
    const AVSValue v(src);
    EXPECT_EQ(RefCount(src.get()), 2);
    const AVSValue copy = v;
    EXPECT_EQ(RefCount(src.get()), 3);
    AVSValue assigned;
    assigned = copy;
    const AVSValue& same = assigned;
    assigned = same;  // self-assignment keeps the count
    EXPECT_EQ(RefCount(src.get()), 4);
    EXPECT_EQ(AVSValue(5).AsClip().get(), nullptr);
  }
  EXPECT_EQ(RefCount(src.get()), 1);
}

TEST_F(ClipValueTest, FramesAreWritableOnlyWhileExclusive) {
  VideoInfo vi{};
  vi.width = 64;
  vi.height = 32;
  vi.pixel_type = kYv12;
  PVideoFrame frame = env.NewVideoFrame(vi);
  EXPECT_TRUE(frame->IsWritable());
  EXPECT_NE(frame->GetWritePtr(), nullptr);
  EXPECT_EQ(frame->GetRowSize(PLANAR_U), 32);
  EXPECT_EQ(frame->GetHeight(PLANAR_V), 16);
  EXPECT_GT(frame->GetPitch(), frame->GetRowSize());  // padded rows

  PVideoFrame second = frame;
  EXPECT_FALSE(frame->IsWritable());
  EXPECT_EQ(frame->GetWritePtr(), nullptr);
  EXPECT_NE(frame->GetWritePtr(PLANAR_U), nullptr);  // chroma pointers are not guarded

  VideoFrame* before = frame.get();
  EXPECT_TRUE(env.MakeWritable(&frame));
  EXPECT_NE(frame.get(), before);
  EXPECT_TRUE(frame->IsWritable());
  EXPECT_TRUE(second->IsWritable());  // the other handle is alone now
  EXPECT_FALSE(env.MakeWritable(&frame));

  vi.pixel_type = kRgb32;
  const PVideoFrame packed = env.NewVideoFrame(vi);
  EXPECT_EQ(packed->GetPitch(PLANAR_U), 0);
  EXPECT_EQ(packed->GetRowSize(PLANAR_U), 0);
  EXPECT_EQ(packed->GetHeight(PLANAR_U), 0);
}

}  // namespace
}  // namespace tallyburn::testing
