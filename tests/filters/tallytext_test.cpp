// TallyText through the built plug-in: fields filled per frame, colours at
// each format's levels and matrix, opacity, the outline without a box, the
// automatic size and the graphics-safe margin, and its refusals.
#include <algorithm>
#include <cmath>
#include <string>

#include "tests/filters/text_samples.h"

namespace tallyburn::testing {
namespace {

using TallyTextTest = PluginHost;

const PixelFormat kYv12 = *DescribePixelType(VideoInfo::CS_YV12);

// The pixel type of a format in our table, by its name.
int Named(const char* name) {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  for (int i = 0; i < count; ++i)
    if (std::string(all[i].name) == name) return all[i].pixel_type;
  ADD_FAILURE() << "no format " << name;
  return 0;
}

std::vector<Argument> With(const PClip& clip, const char* text, std::vector<Argument> more) {
  std::vector<Argument> args = {{"", clip}, {"", text}};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// A field's frame equals the frame of the literal text it must show: the
// same glyphs in the same cells.
TEST_F(TallyTextTest, FieldsShowTheFramesNumberAndTimecode) {
  const struct {
    const char* fields;
    const char* literal;
    std::vector<Argument> args;
    unsigned fps_num, fps_den;
    int n;
  } cases[] = {
      {"{frame}", "123", {}, 25, 1, 123},                                         // cells of the last, 999
      {"{frame}", " 99", {}, 25, 1, 99},                                          // right-aligned in them
      {"{frame:6}", "001042", {{"start", 1000}}, 25, 1, 42},                      // zero-padded
      {"Frame {frame}", "Frame  -3", {{"start", -5}}, 25, 1, 2},                  // signs, blanks before
      {"{tc}", "00:00:04:23", {}, 25, 1, 123},                                    // the clip's rate
      {"{tc}", "01:01:00;02", {{"tc_start", "01:00:00;00"}}, 30000, 1001, 1800},  // drop-frame
      {"{tc}", "00:00:10:00", {{"rate", "24"}}, 25, 1, 240},                      // rate= over the clip's
      {"{tc}", "00:00:00:000", {{"rate", "120"}}, 120, 1, 0},                     // three frame digits
      {"{tc}\\n{frame}", "00:00:04:23\n123", {}, 25, 1, 123},                     // lines, by \n or a new line
      {"{{tc}} {tc}", "{{tc}} 00:00:00:01", {}, 25, 1, 1},                        // braces
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fields);
    const PClip src = Source({.width = 640,
                              .height = 360,
                              .pixel_type = kYv12.pixel_type,
                              .fps_numerator = c.fps_num,
                              .fps_denominator = c.fps_den,
                              .num_frames = 1000});
    std::vector<Argument> literal_args = c.args;
    // The literal's clip needs no timecode: only a rate= it was given.
    const PVideoFrame fields = env.FetchFrame(Apply("TallyText", With(src, c.fields, c.args)), c.n);
    const PVideoFrame literal = env.FetchFrame(Apply("TallyText", With(src, c.literal, c.args)), c.n);
    EXPECT_TRUE(Differences(env, fields, literal).empty());
    // And the text changes from frame to frame.
    const PVideoFrame next = env.FetchFrame(Apply("TallyText", With(src, c.fields, c.args)), c.n + 1);
    EXPECT_FALSE(Differences(env, next, fields).empty());
  }
}

// The box's padding holds the box colour alone: at the top left with no
// margin, pixel (1, 1).
TEST_F(TallyTextTest, ColoursAreTheFormatsOwnLevelsAndMatrix) {
  const struct {
    int pixel_type;
    int width, height;
    int box_color;
    double expect[3];
  } cases[] = {
      {VideoInfo::CS_YV12, 640, 360, 0x000000, {16, 128, 128}},
      {VideoInfo::CS_YV12, 640, 360, 0xFFFFFF, {235, 128, 128}},
      {VideoInfo::CS_YV12, 720, 576, 0xFF0000, {81, 90, 240}},     // BT.601 red
      {VideoInfo::CS_YV12, 1920, 1080, 0xFF0000, {63, 102, 240}},  // BT.709 red
      {VideoInfo::CS_YV12, 1280, 720, 0x00FF00, {173, 42, 26}},    // BT.709 green
      {Named("YUV420P10"), 1280, 720, 0xFF0000, {250, 409, 960}},
      {Named("YUV444P16"), 640, 480, 0x000000, {4096, 32768, 32768}},
      {VideoInfo::CS_BGR24, 640, 360, 0xFF8000, {0, 128, 255}},  // B G R
      {Named("RGBP16"), 640, 360, 0xFF8000, {32896, 0, 65535}},  // G B R
      {Named("YUV444PS"), 640, 360, 0xFFFFFF, {235.0f / 255, 0, 0}},
  };
  for (const auto& c : cases) {
    const PixelFormat f = *DescribePixelType(c.pixel_type);
    SCOPED_TRACE(std::string(f.name) + " " + std::to_string(c.height));
    const PClip src = Source({.width = c.width, .height = c.height, .pixel_type = c.pixel_type});
    const PVideoFrame out = env.FetchFrame(
        Apply("TallyText",
              With(src, "12:34", {{"box_color", c.box_color}, {"box_opacity", 1.0}, {"align", 7}, {"margin", 0}})),
        3);
    for (int k = 0; k < Channels(f); ++k) EXPECT_FLOAT_EQ(SampleAt(env, out, f, k, 1, 1), c.expect[k]) << k;
  }
}

TEST_F(TallyTextTest, OpacityBlendsOverThePicture) {
  const PClip src = Source({.width = 640, .height = 360, .pixel_type = kYv12.pixel_type});
  const PVideoFrame before = env.FetchFrame(src, 0);
  for (const double opacity : {0.5, 0.25}) {
    SCOPED_TRACE(opacity);
    const PVideoFrame out = env.FetchFrame(
        Apply("TallyText", With(src, "12:34", {{"box_opacity", opacity}, {"align", 7}, {"margin", 0}})), 0);
    // Luma moves `opacity` of the way to black's 16, chroma to 128.
    for (const auto& [k, target] : {std::pair{0, 16.0}, std::pair{1, 128.0}, std::pair{2, 128.0}}) {
      const double p = SampleAt(env, before, kYv12, k, 0, 0);
      EXPECT_NEAR(SampleAt(env, out, kYv12, k, 0, 0), p + (target - p) * opacity, 0.5) << k;
    }
  }
  // White text at full opacity reaches 235 where it covers pixels whole,
  // and never leaves the levels between the box's and the text's.
  const PVideoFrame out = env.FetchFrame(
      Apply("TallyText", With(src, "HIIH", {{"size", 48}, {"box_opacity", 1.0}, {"align", 7}, {"margin", 0}})), 0);
  const PixelBox box = ChangedBox(env, out, before, kYv12, 360);
  double low = 255, high = 0;
  for (int y = box.y0; y < box.y1; ++y)
    for (int x = box.x0; x < box.x1; ++x) {
      low = std::min(low, SampleAt(env, out, kYv12, 0, x, y));
      high = std::max(high, SampleAt(env, out, kYv12, 0, x, y));
    }
  EXPECT_EQ(low, 16);
  EXPECT_EQ(high, 235);
}

TEST_F(TallyTextTest, WithoutABoxTheTextHasAnOutlineAndThePictureShowsBetween) {
  const PClip src = Source({.width = 640, .height = 360, .pixel_type = kYv12.pixel_type});
  const PVideoFrame before = env.FetchFrame(src, 0);
  const PVideoFrame out =
      env.FetchFrame(Apply("TallyText", With(src, "H I", {{"size", 48}, {"box_opacity", 0.0}, {"align", 5}})), 0);
  const PixelBox box = ChangedBox(env, out, before, kYv12, 360);
  ASSERT_FALSE(box.empty());
  int text = 0, outline = 0, kept = 0;
  for (int y = box.y0; y < box.y1; ++y)
    for (int x = box.x0; x < box.x1; ++x) {
      const double v = SampleAt(env, out, kYv12, 0, x, y);
      text += v == 235;
      outline += v == 16;
      kept += v == SampleAt(env, before, kYv12, 0, x, y);
    }
  EXPECT_GT(text, 48);
  EXPECT_GT(outline, 48);
  EXPECT_GT(kept, (box.x1 - box.x0) * (box.y1 - box.y0) / 4);  // the gap between the letters and around them
}

// EBU R95's graphics-safe area: 5% of the width and height in from each
// edge, whatever the alignment; margin=0 reaches the edges.
TEST_F(TallyTextTest, TheAutomaticMarginKeepsTheBoxGraphicsSafe) {
  const struct {
    int pixel_type;
    int width, height;
  } frames[] = {{VideoInfo::CS_YV12, 640, 360},
                {VideoInfo::CS_YV12, 1920, 1080},
                {Named("YV411"), 720, 576},
                {VideoInfo::CS_BGR32, 1280, 720}};
  for (const auto& fr : frames) {
    const PixelFormat f = *DescribePixelType(fr.pixel_type);
    const PClip src = Source({.width = fr.width, .height = fr.height, .pixel_type = fr.pixel_type});
    const PVideoFrame before = env.FetchFrame(src, 0);
    const int mx = static_cast<int>(std::ceil(fr.width * 0.05)), my = static_cast<int>(std::ceil(fr.height * 0.05));
    for (int align = 1; align <= 9; ++align) {
      SCOPED_TRACE(std::string(f.name) + " " + std::to_string(fr.height) + " align " + std::to_string(align));
      const PClip clip = Apply("TallyText", With(src, "Reel A001\n{tc}", {{"align", align}, {"box_opacity", 1.0}}));
      const PixelBox box = ChangedBox(env, env.FetchFrame(clip, 0), before, f, fr.height);
      EXPECT_GE(box.x0, mx);
      EXPECT_GE(box.y0, my);
      EXPECT_LE(box.x1, fr.width - mx);
      EXPECT_LE(box.y1, fr.height - my);
      // The automatic size: two lines of at least 1/18 of the height.
      EXPECT_GE(box.y1 - box.y0, 2 * fr.height / 18);
      const int column = (align - 1) % 3, row = (align - 1) / 3;
      if (column == 0) {
        EXPECT_LE(box.x0, mx + 4);
      }
      if (column == 2) {
        EXPECT_GE(box.x1, fr.width - mx - 4);
      }
      if (row == 2) {
        EXPECT_LE(box.y0, my + 2);
      }
      if (row == 0) {
        EXPECT_GE(box.y1, fr.height - my - 2);
      }
      const PixelBox edge = ChangedBox(
          env,
          env.FetchFrame(Apply("TallyText", With(src, "A", {{"align", align}, {"margin", 0}, {"box_opacity", 1.0}})),
                         0),
          before, f, fr.height);
      if (column == 0) {
        EXPECT_EQ(edge.x0, 0);
      }
      if (column == 2) {
        EXPECT_EQ(edge.x1, fr.width);
      }
      if (row == 2) {
        EXPECT_EQ(edge.y0, 0);
      }
      if (row == 0) {
        EXPECT_EQ(edge.y1, fr.height);
      }
    }
  }
}

TEST_F(TallyTextTest, SmallFramesGetSixteenPixelsWhereTheyFit) {
  const PClip src = Source({.width = 320, .height = 180, .pixel_type = kYv12.pixel_type});
  const PixelBox box =
      ChangedBox(env, env.FetchFrame(Apply("TallyText", With(src, "12:34", {{"box_opacity", 1.0}})), 0),
                 env.FetchFrame(src, 0), kYv12, 180);
  EXPECT_GE(box.y1 - box.y0, 16);
  // Too long a text steps the automatic size down rather than refusing.
  const PClip narrow = Source({.width = 160, .height = 120, .pixel_type = kYv12.pixel_type});
  EXPECT_EQ(ErrorOf("TallyText", With(narrow, "00:00:00:00 00:00:00:00", {})), "");
}

TEST_F(TallyTextTest, RefusalsSayWhatToDo) {
  const PClip clip =
      Source({.width = 640, .height = 360, .pixel_type = kYv12.pixel_type, .fps_numerator = 25, .fps_denominator = 2});
  const struct {
    const char* text;
    std::vector<Argument> args;
    const char* message;
  } cases[] = {
      {"", {}, "TallyText: text is empty: give the text to burn, such as \"{tc}\""},
      {"{time}",
       {},
       "TallyText: text has an unknown field {time}: the fields are {frame}, {frame:N} (N digits, zero-padded) and "
       "{tc}; {{ and }} are braces"},
      {"{frame:11}", {}, "TallyText: text has {frame:11}: the digits of {frame:N} are 1 to 10"},
      {"a {frame",
       {},
       "TallyText: text has a '{' that opens no field at byte 2: the fields are {frame}, {frame:N} (N digits, "
       "zero-padded) and {tc}; {{ and }} are braces"},
      {"x", {{"size", 7}}, "TallyText: size must be 0 (automatic) or 8 to 400 pixels, not 7"},
      {"x",
       {{"color", 0x1000000}},
       "TallyText: color must be $000000 to $FFFFFF ($RRGGBB), not $1000000: give the transparency with opacity="},
      {"x", {{"box_opacity", 1.5}}, "TallyText: box_opacity must be from 0.0 (transparent) to 1.0 (opaque), not 1.5"},
      {"x", {{"align", 0}}, "TallyText: align must be 1 to 9 (as on a numeric keypad), not 0"},
      {"x", {{"margin", -2}}, "TallyText: margin must be -1 (5% of the frame in from each edge) or 0 or more, not -2"},
      {"{tc}",
       {},
       "TallyText: the clip's rate, 12.5 fps (25/2), is not a timecode rate: give the timecode rate with rate=, such "
       "as rate=\"25\" (23.976, 24, 25, 29.97, 30, 47.952, 48, 50, 59.94, 60, 100, 119.88 or 120)"},
      {"{tc}",
       {{"rate", "25"}, {"tc_start", "1:00"}},
       "TallyText: tc_start \"1:00\" is not a timecode: give HH:MM:SS:FF, with ';' before the frames for drop-frame"},
      {"x",
       {{"white", "bright"}},
       "TallyText: white must be \"peak\" or a level from 1 to 10000 cd/m², such as \"203\" (BT.2408's graphics "
       "white, the default), not \"bright\""},
      {"x",
       {{"white", "0.5"}},
       "TallyText: white must be \"peak\" or a level from 1 to 10000 cd/m², such as \"203\" (BT.2408's graphics "
       "white, the default), not \"0.5\""},
      {"no timecode, any rate", {}, ""},
      {"0123456789ABC",
       {{"size", 100}},
       "TallyText: the text at size 100 needs a 704x140 box, which does not fit the 640x360 frame's graphics-safe "
       "area (576x324, 5% in from each edge): give a smaller size=, a shorter text or fewer lines, or margin=0 to use "
       "the whole frame"},
      {"0123456789ABC",
       {{"size", 100}, {"margin", 0}},
       "TallyText: the text at size 100 needs a 704x140 box, which does not fit the 640x360 frame with margin 0: give "
       "a smaller size=, a shorter text or fewer lines"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf("TallyText", With(clip, c.text, c.args)), c.message);
}

}  // namespace
}  // namespace tallyburn::testing
