// TallyFrame through the built plug-in: the number and its padding, signs,
// the box's width, and its refusals.
#include <string>

#include "tests/support/text_box_reader.h"

namespace tallyburn::testing {
namespace {

using TallyFrameTest = PluginHost;

const PixelFormat kYuy2Format = *DescribePixelType(VideoInfo::CS_YUY2);

TEST_F(TallyFrameTest, NumbersArePaddedToTheLastOneOrToDigits) {
  const struct {
    int num_frames;
    std::vector<Argument> args;
    int n;
    int cells;
    const char* text;
  } cases[] = {
      {100, {}, 7, 2, "07"},
      {101, {}, 7, 3, "007"},
      {1, {}, 0, 1, "0"},
      {100, {{"start", 1000}}, 5, 4, "1005"},
      {100, {{"digits", 6}}, 42, 6, "000042"},
      {100, {{"start", -3}}, 0, 3, "-03"},
      {100, {{"start", -3}}, 3, 3, " 00"},
      {100, {{"start", -200}}, 150, 4, "-050"},            // padded as the last, -101
      {10, {{"start", 2147483640}}, 9, 10, "2147483649"},  // no wrap: n + start in 64 bits
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const PClip src = Source({.pixel_type = kYuy2Format.pixel_type, .num_frames = c.num_frames});
    std::vector<Argument> args = {{"", src}};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const PVideoFrame out = env.FetchFrame(Apply("TallyFrame", args), c.n);
    const ExpectedBox box = WhereBoxGoes(kYuy2Format, 640, 480, c.cells, 1, 3, 0);
    EXPECT_EQ(ReadBox(env, out, kYuy2Format, box), c.text);
    ExpectOnlyTheBox(env, out, env.FetchFrame(src, c.n), kYuy2Format, box);
  }
}

TEST_F(TallyFrameTest, RefusalsNameTheBadValue) {
  const PClip clip = Source({.width = 64, .height = 64, .pixel_type = kYuy2Format.pixel_type});
  const struct {
    std::vector<Argument> args;
    const char* message;
  } cases[] = {
      {{{"", clip}, {"digits", -1}}, "TallyFrame: digits must be 0 (as many as the last number needs) to 10, not -1"},
      {{{"", clip}, {"digits", 11}}, "TallyFrame: digits must be 0 (as many as the last number needs) to 10, not 11"},
      {{{"", clip}, {"scale", -4}}, "TallyFrame: scale must be 0 (automatic) to 64, not -4"},
      {{{"", clip}, {"align", -1}}, "TallyFrame: align must be 1 to 9 (as on a numeric keypad), not -1"},
      {{{"", clip}, {"margin", -1}}, "TallyFrame: margin must be 0 or more, not -1"},
      {{{"", clip}, {"digits", 7}},
       "TallyFrame: a box of 7 characters at scale 1 (72x18) does not fit the 64x64 frame with margin 0"},
      {{{"", clip}, {"scale", 4}},
       "TallyFrame: a box of 2 characters at scale 4 (88x72) does not fit the 64x64 frame with margin 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf("TallyFrame", c.args), c.message);
}

}  // namespace
}  // namespace tallyburn::testing
