// TallyId through the built plug-in: the strip reads back in every format,
// sits where it should on the 16-pixel grid, changes nothing else, and
// refuses bad values.
#include <string>

#include "framecode/layout.h"
#include "framecode/reader.h"
#include "tests/support/text_box_reader.h"

namespace tallyburn::testing {
namespace {

// The luma (or green, or packed) plane of one of our host's frames, top
// line first.
framecode::LumaView LumaOf(Environment& env, const PVideoFrame& frame, const PixelFormat& f) {
  for (const frameserver::PlaneGeometry& g : *env.frames().Planes(frame.get())) {
    if (g.plane != PLANAR_Y) continue;
    const uint8_t* data = frame->vfb->data + g.offset;
    ptrdiff_t pitch = g.pitch;
    if (f.bottom_up()) {
      data += static_cast<ptrdiff_t>(g.height - 1) * g.pitch;
      pitch = -pitch;
    }
    const int stride = f.bytes_per_sample * f.channels;
    return {data, pitch, g.row_size / stride, g.height, f.bytes_per_sample, f.bits, stride};
  }
  return {};
}

class TallyIdFormatTest : public PluginHost, public ::testing::WithParamInterface<PixelFormat> {};

TEST_P(TallyIdFormatTest, ReadsBackAndChangesOnlyTheStrip) {
  const PixelFormat& f = GetParam();
  const PClip src = Source({.width = 656, .height = 368, .pixel_type = f.pixel_type});
  for (const int align : {8, 5, 1}) {
    SCOPED_TRACE(align);
    const PClip id = Apply("TallyId", {{"", src}, {"start", 1000}, {"align", align}});
    framecode::Reader reader;
    for (const int n : {0, 57}) {
      const PVideoFrame out = env.FetchFrame(id, n);
      EXPECT_EQ(reader.Read(LumaOf(env, out, f)), 1000u + n);
      // 560x32 at scale 1, snapped to the 16-pixel grid: x (656 - 560) / 2
      // = 48 is already on it; the middle's y (368 - 32) / 2 = 168 goes to
      // 160; the bottom's 336 stays.
      const int y = align == 8 ? 0 : align == 5 ? 160 : 336;
      const int x = align == 1 ? 0 : 48;
      ExpectOnlyTheBox(env, out, env.FetchFrame(src, n), f, ExpectedBox{x, y, x + 560, y + 32, x, y, 0, 1},
                       {framecode::kDark, framecode::kLight});
    }
  }
}

TEST_P(TallyIdFormatTest, SmallModulesReadBackAndChangeOnlyTheStrip) {
  const PixelFormat& f = GetParam();
  const struct { int width, height, module; } cases[] = {{480, 270, 6}, {320, 180, 4}, {160, 90, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const PClip src = Source({.width = c.width, .height = c.height, .pixel_type = f.pixel_type, .num_frames = 2});
    const PVideoFrame out = env.FetchFrame(Apply("TallyId", {{"", src}, {"start", 7}}), 1);
    framecode::Reader reader;
    EXPECT_EQ(reader.Read(LumaOf(env, out, f)), 8u);
    const int w = 70 * c.module, x = (c.width - w) / 2 / 16 * 16;
    ExpectOnlyTheBox(env, out, env.FetchFrame(src, 1), f, ExpectedBox{x, 0, x + w, 4 * c.module, x, 0, 0, 1},
                     {framecode::kDark, framecode::kLight});
  }
}

std::vector<PixelFormat> Formats() {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  return {all, all + count};
}

INSTANTIATE_TEST_SUITE_P(All, TallyIdFormatTest, ::testing::ValuesIn(Formats()),
                         [](const auto& p) { return std::string(p.param.name); });

using TallyIdTest = PluginHost;

TEST_F(TallyIdTest, TheStripScalesWithTheFrame) {
  const PixelFormat f = *DescribePixelType(VideoInfo::CS_YV12);
  const struct {
    int width, height, module;
  } cases[] = {{640, 480, 8},
               {1280, 720, 16},
               {1920, 1080, 24},
               {3840, 2160, 48},
               {1440, 1080, 16},
               // Below 560 pixels across: smaller modules, the largest that fit.
               {480, 270, 6},
               {426, 240, 6},
               {320, 180, 4},
               {256, 144, 2},
               {160, 90, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const PClip src = Source({.width = c.width, .height = c.height, .pixel_type = f.pixel_type, .num_frames = 3});
    const PVideoFrame out = env.FetchFrame(Apply("TallyId", {{"", src}}), 2);
    framecode::Reader reader;
    EXPECT_EQ(reader.Read(LumaOf(env, out, f)), 2u);
    const int w = 70 * c.module, x = (c.width - w) / 2 / 16 * 16;
    ExpectOnlyTheBox(env, out, env.FetchFrame(src, 2), f, ExpectedBox{x, 0, x + w, 4 * c.module, x, 0, 0, 1},
                     {framecode::kDark, framecode::kLight});
  }
}

TEST_F(TallyIdTest, RefusalsNameTheBadValue) {
  const PClip clip = Source({.width = 640, .height = 480});
  const PClip small = Source({.width = 320, .height = 240});
  const PClip tiny = Source({.width = 136, .height = 90});
  const PClip flat = Source({.width = 640, .height = 6});
  const struct {
    std::vector<Argument> args;
    const char* message;
  } cases[] = {
      {{{"", clip}, {"start", -1}}, "TallyId: start must be 0 or more, not -1"},
      {{{"", clip}, {"align", 0}}, "TallyId: align must be 1 to 9 (as on a numeric keypad), not 0"},
      {{{"", clip}, {"scale", -1}}, "TallyId: scale must be 0 (automatic) to 64, not -1"},
      {{{"", clip}, {"scale", 2}}, "TallyId: the strip at scale 2 (1120x64) does not fit the 640x480 frame"},
      {{{"", small}, {"scale", 1}}, "TallyId: the strip at scale 1 (560x32) does not fit the 320x240 frame"},
      {{{"", tiny}}, "TallyId: the strip of 2-pixel modules (140x8) does not fit the 136x90 frame"},
      {{{"", flat}}, "TallyId: the strip of 2-pixel modules (140x8) does not fit the 640x6 frame"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf("TallyId", c.args), c.message);
}

}  // namespace
}  // namespace tallyburn::testing
