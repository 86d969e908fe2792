// Writes a fuzz target's seeds as files into a folder, the corpus libFuzzer starts from, so
// no binary seed file is kept in the repository.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::vector<std::string> seeds = FuzzSeeds();
  for (size_t i = 0; i < seeds.size(); ++i) {
    const std::string path = std::string(argv[1]) + "/seed-" + std::to_string(i);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(seeds[i].data(), static_cast<std::streamsize>(seeds[i].size()));
    if (!out) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
      return 1;
    }
  }
  std::printf("%zu seeds written to %s\n", seeds.size(), argv[1]);
  return 0;
}
