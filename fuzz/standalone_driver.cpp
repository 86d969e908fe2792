// Runs a libFuzzer entry point without libFuzzer: every seed of the target, then a fixed
// number of mutations drawn from a seeded generator, so a run is repeatable. Crashes surface
// through the sanitizers the build was made with.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::string Mutate(std::string input, std::mt19937& random, const std::vector<std::string>& seeds) {
  int edits = 1 + static_cast<int>(random() % 8);
  for (int i = 0; i < edits; ++i) {
    switch (random() % 6) {
      case 0:  // flip a byte
        if (!input.empty()) input[random() % input.size()] = static_cast<char>(random());
        break;
      case 1:  // insert a byte
        input.insert(input.begin() + (input.empty() ? 0 : random() % (input.size() + 1)),
                     static_cast<char>(random()));
        break;
      case 2:  // cut a range
        if (!input.empty()) {
          size_t at = random() % input.size();
          input.erase(at, random() % (input.size() - at + 1));
        }
        break;
      case 3:  // an extreme byte
        if (!input.empty()) {
          static const char kExtremes[] = {0, '\x7f', '\x80', '\xff', '\n', '\r', '"', '\\'};
          input[random() % input.size()] = kExtremes[random() % sizeof(kExtremes)];
        }
        break;
      case 4:  // splice in part of another seed
        if (!seeds.empty()) {
          const std::string& other = seeds[random() % seeds.size()];
          if (!other.empty()) {
            size_t from = random() % other.size();
            input.insert(input.empty() ? 0 : random() % input.size(),
                         other.substr(from, random() % (other.size() - from + 1)));
          }
        }
        break;
      default:  // duplicate a range
        if (!input.empty() && input.size() < (1u << 20)) {
          size_t at = random() % input.size();
          input.insert(at, input.substr(at, random() % (input.size() - at + 1)));
        }
        break;
    }
  }
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = 10000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--iterations") == 0) iterations = std::atol(argv[i + 1]);
  }
  std::vector<std::string> seeds = FuzzSeeds();
  seeds.push_back("");
  for (const std::string& seed : seeds) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(seed.data()), seed.size());
  }
  std::mt19937 random(20261206);
  for (long i = 0; i < iterations; ++i) {
    std::string input = Mutate(seeds[random() % seeds.size()], random, seeds);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  std::printf("%zu seeds and %ld mutations ran without a fault\n", seeds.size(), iterations);
  return 0;
}
