// The smooth font: building it for a cell height (every glyph rasterised
// once) and drawing a 12-character label from it, as a frame does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "glyphs/smooth_font.h"

namespace tallyburn {
namespace {

void BM_Construct(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  for (auto _ : state) {
    SmoothFont font(size);
    benchmark::DoNotOptimize(font.Glyph(U'0').coverage);
  }
}
BENCHMARK(BM_Construct)->Arg(48)->Arg(300)->Unit(benchmark::kMillisecond);

// A timecode label with a Latin-1 letter, onto a cleared buffer of its box.
void BM_DrawLabel(benchmark::State& state) {
  const SmoothFont font(static_cast<int>(state.range(0)));
  constexpr std::string_view kLabel = "Cam\xC3\xA9 01:23:45";  // 12 characters
  const int width = font.TextWidth(kLabel), height = font.PixelSize();
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  const CoverageView view{pixels.data(), width, width, height};
  for (auto _ : state) {
    std::fill(pixels.begin(), pixels.end(), uint8_t{0});
    benchmark::DoNotOptimize(font.DrawText(kLabel, view, 0, 0));
    benchmark::ClobberMemory();
  }
  state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
}
BENCHMARK(BM_DrawLabel)->Arg(48)->Arg(300);

}  // namespace
}  // namespace tallyburn

BENCHMARK_MAIN();
