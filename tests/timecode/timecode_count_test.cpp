// Frame index to timecode: the table of known texts through the plug-in,
// then properties over whole days of labels.
#include <gtest/gtest.h>
#include <ostream>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/plugin_host.h"
#include "tests/support/readback.h"
#include "timecode/timecode_count.h"

namespace tallyburn {
namespace {

struct TextCase {
  unsigned num, den;
  int offset;
  int n;
  const char* text;
};

void PrintTo(const TextCase& c, std::ostream* os) {
  *os << c.num << "/" << c.den << " offset " << c.offset << " n " << c.n;
}

class TimecodeTextTest : public testing::PluginHost, public ::testing::WithParamInterface<TextCase> {};

// The text as burned: only its first eight characters are drawn.
TEST_P(TimecodeTextTest, ShowsTheExpectedLabel) {
  const TextCase& c = GetParam();
  const PClip src = Source(
      {.width = 92, .height = 14, .pixel_type = testing::kYuy2, .fps_numerator = c.num, .fps_denominator = c.den});
  const PVideoFrame out = env.FetchFrame(Apply("FrameTC", {{"", src}, {"offset", c.offset}}), c.n);
  EXPECT_EQ(frameserver::ReadTimecode(*out.get(), testing::kYuy2, 0, 0), std::string(c.text).substr(0, 8));

  // And the whole text, longer ones included, from the arithmetic itself.
  TimecodeRate rate{};
  ASSERT_TRUE(ClassifyRate(FrameRate(c.num, c.den), &rate));
  const TimecodeFields t = CountTimecode(c.n, c.offset, rate);
  char text[200];
  std::snprintf(text, sizeof text, "%02d%02d%02d%02d", t.hours, t.minutes, t.seconds, t.frames);
  EXPECT_STREQ(text, c.text);
}

constexpr unsigned kNtsc = 30000, kFilm = 24000, kNtscDen = 1001;

INSTANTIATE_TEST_SUITE_P(
    Table, TimecodeTextTest,
    ::testing::Values(TextCase{kNtsc, kNtscDen, 0, 0, "00000000"}, TextCase{kNtsc, kNtscDen, 0, 29, "00000029"},
                      TextCase{kNtsc, kNtscDen, 0, 30, "00000100"}, TextCase{kNtsc, kNtscDen, 0, 1799, "00005929"},
                      TextCase{kNtsc, kNtscDen, 0, 1800, "00010002"}, TextCase{kNtsc, kNtscDen, 0, 17981, "00095929"},
                      TextCase{kNtsc, kNtscDen, 0, 17982, "00100000"}, TextCase{kNtsc, kNtscDen, 0, 17983, "00100001"},
                      TextCase{kNtsc, kNtscDen, 0, 19781, "00105929"}, TextCase{kNtsc, kNtscDen, 0, 19782, "00110002"},
                      TextCase{kNtsc, kNtscDen, 0, 107891, "00595929"},
                      TextCase{kNtsc, kNtscDen, 0, 107892, "01000000"},
                      TextCase{kNtsc, kNtscDen, 0, 2589408, "24000000"}, TextCase{kNtsc, kNtscDen, 1800, 0, "00010002"},
                      TextCase{30, 1, 0, 1800, "00010000"}, TextCase{30, 1, 0, 10799999, "99595929"},
                      TextCase{30, 1, 0, 10800000, "100000000"}, TextCase{25, 1, 0, 24, "00000024"},
                      TextCase{25, 1, 0, 25, "00000100"}, TextCase{25, 1, 0, 89999, "00595924"},
                      TextCase{25, 1, 0, 90000, "01000000"}, TextCase{24, 1, 0, 1439, "00005923"},
                      TextCase{24, 1, 0, 1440, "00010000"}, TextCase{kFilm, kNtscDen, 0, 1000, "00004116"},
                      TextCase{kFilm, kNtscDen, 0, 1001, "00004119"}, TextCase{kFilm, kNtscDen, 0, 3002, "00020504"},
                      TextCase{kFilm, kNtscDen, 0, 3003, "00020507"}, TextCase{kFilm, kNtscDen, 0, 86313, "00595923"},
                      TextCase{kFilm, kNtscDen, 0, 86314, "01000000"}, TextCase{kFilm, kNtscDen, 1000, 0, "00004116"},
                      TextCase{kFilm, kNtscDen, 1000, 1, "00004117"}, TextCase{kFilm, kNtscDen, 1000, 1001, "00012311"},
                      TextCase{kNtsc, kNtscDen, -1, 0, "000000-1"}, TextCase{30, 1, -30, 0, "0000-100"},
                      TextCase{25, 1, -10, 5, "000000-5"}, TextCase{0, 1, 0, 123456, "00000000"},
                      TextCase{0, 1, -5, 0, "00000000"}),
    [](const auto& p) {
      const auto sign = [](int v) {
        return (v < 0 ? "m" : "") + std::to_string(v < 0 ? -static_cast<long long>(v) : v);
      };
      return "fps" + std::to_string(p.param.num) + "_" + std::to_string(p.param.den) + "_offset" +
             sign(p.param.offset) + "_n" + sign(p.param.n);
    });

struct Label {
  int h, m, s, f;
  bool operator==(const Label&) const = default;
};

Label Of(const TimecodeFields& t) { return {t.hours, t.minutes, t.seconds, t.frames}; }

// Every label of a day at 29.97 drop frame, in order: the next label is the
// next count, except that frames 00 and 01 of the first second of every
// minute not divisible by ten do not exist. Together with the start at
// 00:00:00:00 this shows each label occurs once, consecutive indices give
// consecutive labels, and exactly those labels are skipped.
TEST(TimecodeCountTest, DropFrameWalksEveryLabelOfADayInOrder) {
  const TimecodeRate rate{30, true};
  Label want{0, 0, 0, 0};
  int skipped = 0;
  for (int n = 0; n <= 2589408; ++n) {
    const Label got = Of(CountTimecode(n, 0, rate));
    if (!(got == want)) {
      ADD_FAILURE() << "index " << n << ": " << got.h << ":" << got.m << ":" << got.s << ":" << got.f << ", expected "
                    << want.h << ":" << want.m << ":" << want.s << ":" << want.f;
      return;
    }
    if (++want.f == 30) want.f = 0, ++want.s;
    if (want.s == 60) want.s = 0, ++want.m;
    if (want.m == 60) want.m = 0, ++want.h;
    if (want.s == 0 && want.f == 0 && want.m % 10 != 0) want.f = 2, skipped += 2;
  }
  EXPECT_EQ(skipped, 24 * 54 * 2);  // two labels in each of a day's 1296 dropping minutes
}

// A label as a plain count of 24 fps frames.
long long Count24(const TimecodeFields& t) {
  return ((static_cast<long long>(t.hours) * 3600 + t.minutes * 60 + t.seconds) * 24) + t.frames;
}

TEST(TimecodeCountTest, FilmRateSkipsTwoLabelsAt1001AndEvery2002AfterWhateverTheOffset) {
  const TimecodeRate rate{24, true};
  for (const int offset : {0, 1000, -5000, 123456, 7}) {
    SCOPED_TRACE(offset);
    long long previous = Count24(CountTimecode(0, offset, rate));
    for (int n = 1; n <= 300000; ++n) {
      const long long now = Count24(CountTimecode(n, offset, rate));
      const long long step = (n - 1001) % 2002 == 0 && n >= 1001 ? 3 : 1;
      ASSERT_EQ(now - previous, step) << "index " << n;
      previous = now;
    }
  }
}

TEST(TimecodeCountTest, WrapsAcrossTheWholeIntRangeWithFieldsInRange) {
  const int values[] = {INT_MIN, INT_MIN + 1, -17982, -2, -1, 0, 1, 1001, 17981, INT_MAX - 1001, INT_MAX - 1, INT_MAX};
  for (const TimecodeRate rate : {TimecodeRate{30, true}, TimecodeRate{24, true}, TimecodeRate{25, false},
                                  TimecodeRate{30, false}, TimecodeRate{0, false}}) {
    for (const int n : values)
      for (const int offset : values) {
        const TimecodeFields t = CountTimecode(n, offset, rate);
        const int fps = rate.fps_base == 0 ? 1 : rate.fps_base;
        EXPECT_LT(std::abs(t.frames), fps);
        EXPECT_LT(std::abs(t.seconds), 60);
        EXPECT_LT(std::abs(t.minutes), 60);
      }
  }
  // The sums wrap: INT_MAX + 1 at 30 fps is INT_MIN frames.
  const TimecodeFields t = CountTimecode(INT_MAX, 1, {30, false});
  EXPECT_EQ(t.frames, INT_MIN % 30);
  EXPECT_EQ(t.hours, INT_MIN / 30 / 3600);
}

TEST(TimecodeCountTest, RateBoundsAreStrictAndExact) {
  TimecodeRate r{};
  EXPECT_FALSE(ClassifyRate(23.975, &r));
  EXPECT_FALSE(ClassifyRate(23.977, &r));
  EXPECT_FALSE(ClassifyRate(29.969, &r));
  EXPECT_FALSE(ClassifyRate(29.971, &r));
  EXPECT_TRUE(ClassifyRate(23.9750001, &r));
  EXPECT_TRUE(r.drop_frame && r.fps_base == 24);
  EXPECT_FALSE(ClassifyRate(24.000000001, &r));
  EXPECT_FALSE(ClassifyRate(FrameRate(0, 0), &r));
  EXPECT_FALSE(ClassifyRate(FrameRate(1, 0), &r));
}

}  // namespace
}  // namespace tallyburn
