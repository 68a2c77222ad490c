// Replays a fuzz target's committed inputs (its seed corpus and the finds
// kept as regressions) through its entry, without libFuzzer, so the normal
// and the sanitized suites see again every fault a fuzzer once caught.
// A target aborts on a fault; this driver fails when a folder it was given
// holds no input, so a mistyped path cannot pass for a clean replay.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Set-up that a target may define, run once before its first input.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER...\n", argv[0]);
    return 2;
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  for (int i = 1; i < argc; ++i) {
    std::vector<fs::path> inputs;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(argv[i], error))
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    if (error || inputs.empty()) {
      std::fprintf(stderr, "%s: no inputs to replay\n", argv[i]);
      return 1;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& path : inputs) {
      std::ifstream file(path, std::ios::binary);
      const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
      std::printf("replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
      std::fflush(stdout);  // the input that aborts is the last one named
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%s: %zu inputs replayed\n", argv[i], inputs.size());
  }
  return 0;
}
