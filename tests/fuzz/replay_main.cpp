// A fuzz target's harness without libFuzzer, as an ordinary test with the same verdict
// every run: every file of its seed corpus, then inputs drawn from a fixed seed. A broken
// invariant aborts (FUZZ_CHECK), which fails the test.
//   replay CORPUS_DIR COUNT
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc != 3) {
    return 2;
  }
  std::vector<std::filesystem::path> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    seeds.push_back(std::filesystem::absolute(entry.path()));
  }
  std::sort(seeds.begin(), seeds.end());
  LLVMFuzzerInitialize(&argc, &argv);
  for (const auto& seed : seeds) {
    std::ifstream file(seed, std::ios::binary);
    const std::vector<std::uint8_t> input{std::istreambuf_iterator<char>(file), {}};
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::mt19937 random(20241207);
  for (long i = std::atol(argv[2]); i > 0; --i) {
    std::vector<std::uint8_t> input(8 + random() % 120);
    std::generate(input.begin(), input.end(), [&] { return static_cast<std::uint8_t>(random()); });
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  return 0;
}
