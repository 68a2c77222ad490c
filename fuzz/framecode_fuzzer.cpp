// The frame code's decoder and reader on any bytes: a number comes out only
// with a valid check (its data row is exactly the one it encodes to, or
// within the doubtful modules and one more of it when recovered), or
// nothing; never a crash.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "framecode/codec.h"
#include "framecode/reader.h"

using namespace tallyburn;

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
