// framecode::Reader::Read per frame: where there is no strip (noise, and a
// picture with detail everywhere), where a level strip is read on the line
// remembered from the frame before (verify's usual frame) or found by a
// scan from the top, and where a turned strip is found by the search along
// paths or read on the path remembered.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/pixel_format.h"
#include "draw/strip.h"
#include "framecode/codec.h"
#include "framecode/layout.h"
#include "framecode/reader.h"

namespace tallyburn {
namespace {

using framecode::LumaView;
using framecode::Reader;

struct Picture {
  int width, height;
  std::vector<uint8_t> luma;
  LumaView view() const { return {luma.data(), width, width, height, 1, 8, 1}; }
};

Picture Noise(int w, int h) {
  Picture p{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h)};
  std::mt19937 random(1);
  for (uint8_t& v : p.luma) v = static_cast<uint8_t>(random());
  return p;
}

// Detail at several sizes everywhere, as in a busy scene.
Picture Detail(int w, int h) {
  Picture p{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p.luma[static_cast<size_t>(y) * w + x] =
          static_cast<uint8_t>(128 + 50 * std::sin(x / 23.0) * std::cos(y / 31.0) + 40 * std::sin(x / 3.1 + y / 5.3) +
                               20 * std::sin(x * y / 900.0));
  return p;
}

// A level strip as TallyId paints it, in the middle of a detailed picture.
Picture Level(int w, int h) {
  Picture p = Detail(w, h);
  const auto format = FindPixelFormat(Family::kGrey, 8, 0, 0);
  StripGeometry strip{};
  PlaceStrip(w, h, framecode::kModulePixels * std::max(1, h / 360), 5, &strip);
  StripPainter(*format, strip)
      .Paint(FrameView{&*format, w, h, {{p.luma.data(), w}, {nullptr, 0}, {nullptr, 0}}}, 107891);
  return p;
}

// The same strip turned 2 degrees about the picture's middle (each pixel
// the mean of four samples).
Picture Turned(int w, int h) {
  Picture p = Detail(w, h);
  framecode::DataRow row;
  framecode::Encode(107891, row);
  const double module = framecode::kModulePixels * std::max(1, h / 360), c = std::cos(0.035), s = std::sin(0.035);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double sum = 0;
      bool on = false;
      for (int k = 0; k < 4; ++k) {
        const double px = x + 0.25 + (k & 1) * 0.5 - w / 2.0, py = y + 0.25 + (k >> 1) * 0.5 - h / 2.0;
        const int column = static_cast<int>(std::floor((px * c + py * s) / module + framecode::kWidthModules / 2.0));
        const int line = static_cast<int>(std::floor((py * c - px * s) / module + framecode::kHeightModules / 2.0));
        if (column < 0 || column >= framecode::kWidthModules || line < 0 || line >= framecode::kHeightModules) {
          sum += p.luma[static_cast<size_t>(y) * w + x];
          continue;
        }
        on = true;
        const int i = column - framecode::kBorder;
        const bool light = i >= 0 && i < framecode::kModules && (line == 1 ? i % 2 == 0 : line == 2 && row[i]);
        sum += 16 + (light ? framecode::kLight : framecode::kDark) * 219;
      }
      if (on) p.luma[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::lround(sum / 4));
    }
  return p;
}

// A reader of its own for every frame: the whole search.
void Fresh(benchmark::State& state, Picture (*make)(int, int), bool reads) {
  const Picture p = make(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    Reader reader;
    const auto number = reader.Read(p.view());
    if (number.has_value() != reads) state.SkipWithError("read otherwise than expected");
    benchmark::DoNotOptimize(number);
  }
}

// One reader for the clip: where the last frame's strip was.
void Remembered(benchmark::State& state, Picture (*make)(int, int)) {
  const Picture p = make(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  Reader reader;
  if (!reader.Read(p.view())) state.SkipWithError("no strip read");
  for (auto _ : state) benchmark::DoNotOptimize(reader.Read(p.view()));
}

void NoStripNoise(benchmark::State& state) { Fresh(state, Noise, false); }
void NoStripDetail(benchmark::State& state) { Fresh(state, Detail, false); }
void LevelScanned(benchmark::State& state) { Fresh(state, Level, true); }
void LevelRemembered(benchmark::State& state) { Remembered(state, Level); }
void TurnedSearched(benchmark::State& state) { Fresh(state, Turned, true); }
void TurnedRemembered(benchmark::State& state) { Remembered(state, Turned); }

BENCHMARK(NoStripNoise)->Args({640, 360})->Unit(benchmark::kMicrosecond);
BENCHMARK(NoStripDetail)->Args({640, 360})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(LevelScanned)->Args({640, 360})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(LevelRemembered)->Args({640, 360})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
// (At 1080p the detail is a grating everywhere, whose pieces take every
// seed of the search: the turned strip there is not found.)
BENCHMARK(TurnedSearched)->Args({640, 360})->Unit(benchmark::kMicrosecond);
BENCHMARK(TurnedRemembered)->Args({640, 360})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tallyburn

BENCHMARK_MAIN();
