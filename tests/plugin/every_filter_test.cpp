// What every filter owes the host, written once: formats it does not draw
// come back unchanged, and a frame without a write pointer (a host that
// breaks MakeWritable's promise) is handed back untouched.
#include <ostream>
#include <string>
#include <vector>

#include "core/pixel_format.h"
#include "tests/support/plugin_host.h"

namespace tallyburn::testing {
namespace {

struct FilterCase {
  const char* function;
  std::vector<Argument> args;  // after the clip
  int width, height;
  std::vector<int> undrawn;  // formats it passes through
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.function; }

std::vector<int> AllFormats() {
  int count = 0;
  const PixelFormat* all = AllPixelFormats(&count);
  std::vector<int> types;
  for (int i = 0; i < count; ++i) types.push_back(all[i].pixel_type);
  return types;
}

// The classic pair draws only the five classic formats.
std::vector<int> NotClassic() {
  std::vector<int> types;
  for (const int t : AllFormats())
    if (t != kRgb24 && t != kRgb32 && t != kYuy2 && t != kYv12 && t != kI420) types.push_back(t);
  return types;
}

class EveryFilterTest : public PluginHost, public ::testing::WithParamInterface<FilterCase> {
 protected:
  PClip Filter(const PClip& src) {
    std::vector<Argument> args = {{"", src}};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    return Apply(GetParam().function, args);
  }
  SourceParams Params(int pixel_type, bool shared = false) const {
    return {.width = GetParam().width, .height = GetParam().height, .pixel_type = pixel_type, .shared_frames = shared};
  }
};

TEST_P(EveryFilterTest, FormatsItDoesNotDrawComeBackUnchanged) {
  for (const int pixel_type : GetParam().undrawn) {
    SCOPED_TRACE(DescribePixelType(pixel_type)->name);
    const PClip src = Source(Params(pixel_type));
    EXPECT_TRUE(Differences(env, env.FetchFrame(Filter(src), 5), env.FetchFrame(src, 5)).empty());
  }
}

TEST_P(EveryFilterTest, NoWritePointerMeansNothingIsDrawn) {
  env.set_broken_make_writable(true);
  for (const int pixel_type : AllFormats()) {
    SCOPED_TRACE(DescribePixelType(pixel_type)->name);
    const PClip shared = Source(Params(pixel_type, true));
    const PVideoFrame held = shared->GetFrame(3, &env);
    const PVideoFrame out = env.FetchFrame(Filter(shared), 3);
    EXPECT_EQ(out.get(), held.get());
    EXPECT_TRUE(Differences(env, out, env.FetchFrame(Source(Params(pixel_type)), 3)).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Filters, EveryFilterTest,
                         ::testing::Values(FilterCase{"Tallyburn", {}, 64, 20, NotClassic()},
                                           FilterCase{"FrameTC", {{"orientation", 2}}, 128, 32, NotClassic()},
                                           FilterCase{"TallyTC", {}, 128, 32, {}},
                                           FilterCase{"TallyFrame", {}, 64, 32, {}},
                                           FilterCase{"TallyId", {}, 576, 48, {}},
                                           FilterCase{"TallyText", {{"text", "{frame} {tc}"}}, 256, 64, {}}),
                         [](const auto& p) { return std::string(p.param.function); });

}  // namespace
}  // namespace tallyburn::testing
