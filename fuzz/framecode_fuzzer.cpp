// The frame code's decoder and reader on any bytes: a number comes out only
// with a valid check (its data row is exactly the one it encodes to, or
// within the doubtful modules and one more of it when recovered), or
// nothing; never a crash. And a strip drawn turned, bent and grainy over a
// picture too flat to hold another strip reads as its own number or not
// at all.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "framecode/codec.h"
#include "framecode/layout.h"
#include "framecode/reader.h"

using namespace tallyburn;

namespace {

// The strip of the number in bytes 0 to 3, drawn into a 400x200 picture
// turned up to 10 degrees either way (byte 4), of modules of 2 to 5 pixels
// (byte 5), bent as by a lens (byte 6), at levels and contrast from bytes 7
// and 8, each pixel the mean of four samples, over a picture from the rest
// of the bytes, plus grain from bytes 9 to 11; the picture and the grain
// together stay within a quarter of the strip's contrast and a tenth of the
// range, so no other strip can be read there and no module's middle
// crosses the threshold.
void TurnedStrip(const uint8_t* data, size_t size) {
  constexpr int kW = 400, kH = 200;
  uint32_t number = 0;
  for (int i = 0; i < 4; ++i) number = number << 8 | data[i];
  framecode::DataRow row;
  framecode::Encode(number, row);
  const double angle = (data[4] / 255.0 * 20 - 10) * 3.14159265358979 / 180;
  const double module = 2 + data[5] / 255.0 * 3, reach = framecode::kWidthModules * module / 2;
  const double bend = (data[6] / 255.0 - 0.5) * module / (reach * reach);  // up to half a module at the ends
  const double contrast = 60 + data[7] % 120, dark = 16 + data[8] % static_cast<int>(236 - 16 - contrast);
  const double flat = std::min(contrast / 4, 20.0) / 2;  // either way from the picture's middle level
  const double cs = std::cos(angle), sn = std::sin(angle);
  std::vector<uint8_t> picture(static_cast<size_t>(kW) * kH);
  uint32_t grain = static_cast<uint32_t>(data[9]) << 16 | data[10] << 8 | data[11];
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const size_t at = static_cast<size_t>(y) * kW + x;
      const uint8_t byte = size > 12 ? data[12 + at % (size - 12)] : 128;
      const double background = dark + contrast / 2 + (byte / 255.0 - 0.5) * flat;
      double sum = 0;
      for (int s = 0; s < 4; ++s) {
        const double px = x + 0.25 + (s & 1) * 0.5 - kW / 2.0, py = y + 0.25 + (s >> 1) * 0.5 - kH / 2.0;
        const double u = px * cs + py * sn, v = -px * sn + py * cs - bend * u * u;
        const int column = static_cast<int>(std::floor(u / module + framecode::kWidthModules / 2.0));
        const int line = static_cast<int>(std::floor(v / module + framecode::kHeightModules / 2.0));
        double level = background;
        if (column >= 0 && column < framecode::kWidthModules && line >= 0 && line < framecode::kHeightModules) {
          const int k = column - framecode::kBorder;
          const bool inside = k >= 0 && k < framecode::kModules;
          const bool light = inside && (line == 1 ? k % 2 == 0 : line == 2 ? row[k] : false);
          level = light ? dark + contrast : dark;
        }
        sum += level;
      }
      grain = grain * 1664525u + 1013904223u;
      const double speck = ((grain >> 24) / 255.0 - 0.5) * flat;
      picture[at] = static_cast<uint8_t>(std::clamp(std::lround(sum / 4 + speck), 0L, 255L));
    }
  framecode::Reader reader;
  for (int pass = 0; pass < 2; ++pass) {  // the second along the path the first found
    const auto read = reader.Read({picture.data(), kW, kW, kH, 1, 8, 1});
    if (read && *read != number) {
      std::fprintf(stderr, "a strip of %u turned %.2f degrees read as %u\n", number, angle * 180 / 3.14159265358979,
                   *read);
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  // The first 9 bytes: a data row to decode (68 of its 72 bits).
  framecode::DataRow row;
  for (int k = 0; k < framecode::kModules; ++k) row[k] = (data[k / 8] >> (k % 8) & 1) != 0;
  if (const auto number = framecode::Decode(row)) {
    framecode::DataRow again;
    framecode::Encode(*number, again);
    for (int k = 0; k < framecode::kModules; ++k)
      if (again[k] != row[k]) {
        std::fprintf(stderr, "decoded %u from a row it does not encode to\n", *number);
        std::abort();
      }
  }
  // The same row recovered with up to kMaxDoubtful doubtful modules (byte
  // 9's low bits say how many, bytes 10 and 11 and byte 9's top bits
  // where): a number comes out only where its row differs from this one in
  // the doubtful modules and at most kMaxWrong others.
  const int count = data[9] % (framecode::kMaxDoubtful + 1);
  const int doubtful[] = {data[10] % framecode::kModules, data[11] % framecode::kModules,
                          (data[9] >> 2) % framecode::kModules};
  if (const auto number = framecode::Recover(row, doubtful, count)) {
    framecode::DataRow again;
    framecode::Encode(*number, again);
    int wrong = 0;
    for (int k = 0; k < framecode::kModules; ++k)
      if (again[k] != row[k] && std::find(doubtful, doubtful + count, k) == doubtful + count) ++wrong;
    if (wrong > framecode::kMaxWrong) {
      std::fprintf(stderr, "recovered %u from a row %d modules off it\n", *number, wrong);
      std::abort();
    }
  }
  TurnedStrip(data, size);
  // Then a picture: width, height and sample size from the next bytes, the
  // rest its samples (a short picture is cut to the bytes there are).
  const int width = 1 + data[9] * 4;
  const int bytes = data[10] % 3 == 0 ? 1 : data[10] % 3 == 1 ? 2 : 4;
  const int bits = bytes == 1 ? 8 : bytes == 2 ? 8 + data[11] % 9 : 32;
  const uint8_t* pixels = data + 12;
  const size_t row_bytes = static_cast<size_t>(width) * bytes;
  const int height = static_cast<int>((size - 12) / row_bytes);
  if (height <= 0) return 0;
  std::vector<uint8_t> plane(pixels, pixels + row_bytes * height);  // exactly the picture, for the sanitizer
  framecode::Reader reader;
  for (int pass = 0; pass < 2; ++pass)  // the second pass starts where the first found a strip
    reader.Read({plane.data(), static_cast<ptrdiff_t>(row_bytes), width, height, bytes, bits, bytes});
  return 0;
}
