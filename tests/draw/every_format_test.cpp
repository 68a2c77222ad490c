// Both current filters over every format a host hands a 2.5 plug-in: the
// box reads back right, holds only ink and background over neutral chroma,
// keeps alpha, and nothing outside it changes (the host's guard bytes catch
// anything written outside the planes).
#include <string>

#include "core/pixel_format.h"
#include "tests/support/text_box_reader.h"

namespace tallyburn::testing {
namespace {

class EveryFormatTest : public PluginHost, public ::testing::WithParamInterface<PixelFormat> {};

TEST_P(EveryFormatTest, TallyTCAndTallyFrameDrawTheirBoxAndNothingElse) {
  const PixelFormat& f = GetParam();
  // 644 wide: a centred box starts on an odd column before widening.
  const PClip src = Source(
      {.width = 644, .height = 362, .pixel_type = f.pixel_type, .fps_numerator = 30000, .fps_denominator = 1001});
  const struct {
    PClip clip;
    ExpectedBox box;
    int n;
    const char* text;
  } cases[] = {
      {Apply("TallyTC", {{"", src}, {"start", "00:59:59;28"}, {"scale", 2}, {"align", 5}, {"margin", 3}}),
       WhereBoxGoes(f, 644, 362, 11, 2, 5, 3), 1234, "01:00:41;02"},
      {Apply("TallyTC", {{"", src}, {"drop", false}, {"align", 7}, {"margin", 5}}),
       WhereBoxGoes(f, 644, 362, 11, 1, 7, 5), 1800, "00:01:00:00"},
      {Apply("TallyFrame", {{"", src}, {"start", -3}, {"margin", 1}}), WhereBoxGoes(f, 644, 362, 3, 1, 3, 1), 1, "-02"},
      {Apply("TallyFrame", {{"", src}, {"digits", 4}, {"scale", 3}, {"align", 1}}),
       WhereBoxGoes(f, 644, 362, 4, 3, 1, 0), 57, "0057"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const PVideoFrame out = env.FetchFrame(c.clip, c.n);
    EXPECT_EQ(ReadBox(env, out, f, c.box), c.text);
    ExpectOnlyTheBox(env, out, env.FetchFrame(src, c.n), f, c.box);
  }
}

std::vector<PixelFormat> Formats() {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  return {all, all + count};
}

INSTANTIATE_TEST_SUITE_P(All, EveryFormatTest, ::testing::ValuesIn(Formats()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PixelFormatTest, ClassicAndCurrentHostValuesDecode) {
  const struct {
    uint32_t pixel_type;
    const char* name;
  } cases[] = {{0xA0000008u, "YV12"},      {0xA0000308u, "YV16"},      {0xA000030Bu, "YV24"},
               {0xA0000309u, "YV411"},     {0xE0000000u, "Y8"},        {0xA0050008u, "YUV420P10"},
               {0xA0010008u, "YUV420P16"}, {0xA0020008u, "YUV420PS"},  {0x88050008u, "YUVA420P10"},
               {0x90000001u, "RGBP8"},     {0x90060002u, "RGBAP12"},   {0x50010002u, "RGB64"},
               {0xE0010000u, "Y16"},       {0xA0070308u, "YUV422P14"}, {0x8802030Bu, "YUVA444PS"}};
  for (const auto& c : cases) {
    const auto f = DescribePixelType(static_cast<int>(c.pixel_type));
    ASSERT_TRUE(f) << c.name;
    EXPECT_STREQ(f->name, c.name);
  }
  // Bits we do not know: not drawn.
  for (const uint32_t unknown : {0u, 0xA0030008u, 0xA000000Cu, 0x50000004u, 0x90000003u})
    EXPECT_FALSE(DescribePixelType(static_cast<int>(unknown))) << std::hex << unknown;
}

}  // namespace
}  // namespace tallyburn::testing
