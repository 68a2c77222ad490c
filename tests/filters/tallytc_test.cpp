// TallyTC through the built plug-in: labels at every kind of rate, the
// start, drop-frame choice, automatic scale, and its refusals.
#include <string>

#include "tests/support/text_box_reader.h"

namespace tallyburn::testing {
namespace {

using TallyTCTest = PluginHost;

const PixelFormat kYv12 = *DescribePixelType(VideoInfo::CS_YV12);

struct LabelCase {
  unsigned num, den;
  std::vector<Argument> args;  // after the clip
  int n;
  const char* text;
};

TEST_F(TallyTCTest, LabelsAtEveryKindOfRate) {
  const LabelCase cases[] = {
      {30000, 1001, {}, 1800, "00:01:00;02"},  // drop-frame by default at 29.97
      {30000, 1001, {{"drop", false}}, 1800, "00:01:00:00"},
      {30000, 1001, {{"start", "01:00:00;00"}}, 65, "01:00:02;05"},
      {30000, 1001, {{"start", "00:59:58:17"}, {"drop", false}}, 0, "00:59:58:17"},
      {60000, 1001, {}, 3600, "00:01:00;04"},
      {60000, 1001, {}, 35964, "00:10:00;00"},
      {24000, 1001, {}, 1001, "00:00:41:17"},  // 23.976 counts plainly
      {25, 1, {{"start", "23:59:59:24"}}, 1, "00:00:00:00"},
      {50, 1, {{"start", "10:00:00:00"}}, 1234, "10:00:24:34"},
      {2997, 100, {}, 17982, "00:10:00;00"},  // within 0.01% of 29.97
      {25, 2, {{"rate", "25"}}, 30, "00:00:01:05"},
      {30, 1, {{"rate", "30000/1001"}, {"start", "00:00:59;29"}}, 1, "00:01:00;02"},
  };
  for (const LabelCase& c : cases) {
    SCOPED_TRACE(c.text);
    const PClip src = Source({.pixel_type = kYv12.pixel_type, .fps_numerator = c.num, .fps_denominator = c.den});
    std::vector<Argument> args = {{"", src}};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const PVideoFrame out = env.FetchFrame(Apply("TallyTC", args), c.n);
    EXPECT_EQ(ReadBox(env, out, kYv12, WhereBoxGoes(kYv12, 640, 480, 11, 1, 2, 0)), c.text);
  }
}

TEST_F(TallyTCTest, ThreeFrameDigitsAtAHundredAndMore) {
  const PClip src = Source({.pixel_type = kYv12.pixel_type, .fps_numerator = 120000, .fps_denominator = 1001});
  const PVideoFrame out = env.FetchFrame(Apply("TallyTC", {{"", src}, {"align", 8}}), 7200);
  EXPECT_EQ(ReadBox(env, out, kYv12, WhereBoxGoes(kYv12, 640, 480, 12, 1, 8, 0)), "00:01:00;008");
}

TEST_F(TallyTCTest, AutomaticScaleFollowsTheFrameHeight) {
  const struct {
    int width, height, scale;
  } cases[] = {{640, 480, 1},   {1280, 718, 1},  {1280, 720, 2},
               {1920, 1080, 3}, {3840, 2160, 6}, {240, 2160, 2}};  // steps down to fit
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const PClip src = Source({.width = c.width, .height = c.height, .pixel_type = kYv12.pixel_type, .num_frames = 3});
    const PVideoFrame out = env.FetchFrame(Apply("TallyTC", {{"", src}}), 2);
    const ExpectedBox box = WhereBoxGoes(kYv12, c.width, c.height, 11, c.scale, 2, 0);
    EXPECT_EQ(ReadBox(env, out, kYv12, box), "00:00:00:02");
    ExpectOnlyTheBox(env, out, env.FetchFrame(src, 2), kYv12, box);
  }
}

TEST_F(TallyTCTest, RefusalsNameTheBadValue) {
  const PClip clip = Source({.pixel_type = kYv12.pixel_type, .fps_numerator = 30000, .fps_denominator = 1001});
  const PClip odd = Source({.pixel_type = kYv12.pixel_type, .fps_numerator = 25, .fps_denominator = 2});
  const PClip pal = Source({.pixel_type = kYv12.pixel_type, .fps_numerator = 25});
  const struct {
    std::vector<Argument> args;
    const char* message;
  } cases[] = {
      {{{"", odd}},
       "TallyTC: the clip's rate, 12.5 fps (25/2), is not a timecode rate: give the timecode rate with rate=, such as "
       "rate=\"25\" (23.976, 24, 25, 29.97, 30, 47.952, 48, 50, 59.94, 60, 100, 119.88 or 120)"},
      {{{"", clip}, {"rate", "fast"}},
       "TallyTC: rate \"fast\" is not a frame rate: give a number such as \"25\" or \"29.97\", or a fraction such as "
       "\"30000/1001\""},
      {{{"", clip}, {"rate", "29"}},
       "TallyTC: rate \"29\" is not a timecode rate: 23.976, 24, 25, 29.97, 30, 47.952, 48, 50, 59.94, 60, 100, "
       "119.88 or 120"},
      {{{"", clip}, {"start", "1:00:00:00"}},
       "TallyTC: start \"1:00:00:00\" is not a timecode: give HH:MM:SS:FF, with ';' before the frames for drop-frame"},
      {{{"", clip}, {"start", "00:01:00;00"}},
       "TallyTC: start \"00:01:00;00\" is not a label at 29.97 drop-frame: drop-frame skips frames 0 to 1 at the "
       "start of every minute not divisible by ten"},
      {{{"", pal}, {"start", "00:00:00:25"}},
       "TallyTC: start \"00:00:00:25\" is not a label at 25 non-drop: frames run from 0 to 24 at this rate"},
      {{{"", pal}, {"drop", true}}, "TallyTC: drop-frame is not defined at 25 fps"},
      {{{"", pal}, {"start", "00:00:00;00"}},
       "TallyTC: drop-frame is not defined at 25 fps (start has ';' before its frames)"},
      {{{"", clip}, {"start", "00:00:00;00"}, {"drop", false}},
       "TallyTC: start \"00:00:00;00\" asks for drop-frame with ';', but drop=false"},
      {{{"", clip}, {"scale", -1}}, "TallyTC: scale must be 0 (automatic) to 64, not -1"},
      {{{"", clip}, {"scale", 65}}, "TallyTC: scale must be 0 (automatic) to 64, not 65"},
      {{{"", clip}, {"align", 0}}, "TallyTC: align must be 1 to 9 (as on a numeric keypad), not 0"},
      {{{"", clip}, {"align", 10}}, "TallyTC: align must be 1 to 9 (as on a numeric keypad), not 10"},
      {{{"", clip}, {"margin", -2}}, "TallyTC: margin must be 0 or more, not -2"},
      {{{"", clip}, {"scale", 6}},
       "TallyTC: a box of 11 characters at scale 6 (672x108) does not fit the 640x480 frame with margin 0"},
      {{{"", clip}, {"margin", 530}},
       "TallyTC: a box of 11 characters at scale 1 (112x18) does not fit the 640x480 frame with margin 530"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf("TallyTC", c.args), c.message);
}

}  // namespace
}  // namespace tallyburn::testing
