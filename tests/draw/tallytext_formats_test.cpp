// TallyText over every format a host hands a plug-in: the box's padding in
// the box colour and the text's colour where it covers whole pixels, each
// at the format's own levels; packed alpha kept; nothing outside the box
// changed (the host's guard bytes catch anything written outside the
// planes).
#include <cmath>
#include <string>

#include "core/pixel_format.h"
#include "tests/filters/text_samples.h"

namespace tallyburn::testing {
namespace {

class TallyTextFormatTest : public PluginHost, public ::testing::WithParamInterface<PixelFormat> {};

TEST_P(TallyTextFormatTest, TextAndBoxInTheFormatsColoursAndNothingElse) {
  const PixelFormat& f = GetParam();
  constexpr uint32_t kText = 0xFFFF00, kBox = 0x2040A0;
  const struct {
    int width, height;
    int align;
    int margin;
  } cases[] = {{644, 362, 5, -1}, {644, 362, 3, 0}, {1280, 720, 7, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.height) + " align " + std::to_string(c.align));
    const PClip src = Source({.width = c.width, .height = c.height, .pixel_type = f.pixel_type});
    const PClip clip = Apply("TallyText", {{"", src},
                                           {"", "A001C003\n{frame:4}"},
                                           {"size", 40},
                                           {"color", static_cast<int>(kText)},
                                           {"box_color", static_cast<int>(kBox)},
                                           {"box_opacity", 1.0},
                                           {"align", c.align},
                                           {"margin", c.margin}});
    const PVideoFrame out = env.FetchFrame(clip, 7);
    const PVideoFrame before = env.FetchFrame(src, 7);
    const PixelBox box = ChangedBox(env, out, before, f, c.height);
    ASSERT_FALSE(box.empty());
    // Whole chroma samples.
    EXPECT_EQ(box.x0 % f.chroma_step_w(), 0);
    EXPECT_EQ(box.x1 % f.chroma_step_w(), 0);
    EXPECT_EQ(box.y0 % f.chroma_step_h(), 0);
    EXPECT_EQ(box.y1 % f.chroma_step_h(), 0);
    ExpectChangedOnlyIn(env, out, before, RegionsOf(f, c.height, box));

    const bool hd = c.width > 1024;
    const auto text = ExpectedSamples(f, hd, kText), fill = ExpectedSamples(f, hd, kBox);
    for (int k = 0; k < Channels(f); ++k)
      EXPECT_FLOAT_EQ(SampleAt(env, out, f, k, box.x0, box.y0), fill[k]) << "box channel " << k;
    // Some pixel (or chroma sample) of the text is covered whole.
    for (int k = 0; k < Channels(f); ++k) {
      bool found = false;
      for (int y = box.y0; y < box.y1 && !found; ++y)
        for (int x = box.x0; x < box.x1 && !found; ++x)
          found = SampleAt(env, out, f, k, x, y) == static_cast<double>(text[k]);
      EXPECT_TRUE(found) << "text channel " << k << " never " << text[k];
    }
    if (f.family == Family::kPackedRgb && f.channels == 4) {
      for (int y = box.y0; y < box.y1; ++y)
        for (int x = box.x0; x < box.x1; ++x) {
          const int line = c.height - 1 - y, byte = (x * 4 + 3) * f.bytes_per_sample;
          ASSERT_EQ(ByteOf(env, out, PLANAR_Y, line, byte), ByteOf(env, before, PLANAR_Y, line, byte));
        }
    }
  }
}

std::vector<PixelFormat> Formats() {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  return {all, all + count};
}

INSTANTIATE_TEST_SUITE_P(All, TallyTextFormatTest, ::testing::ValuesIn(Formats()),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tallyburn::testing
