// write_hash_records FOLDER COUNT: writes FOLDER/main.hdb with COUNT whole-file MD5 records
// ("digest:size:name:73"), as a real main.cvd + daily.cvd hold them: random digests, sizes
// spread over a few bytes to some megabytes (so most sizes are told apart), names unique.
// The same COUNT gives the same file.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write_hash_records FOLDER COUNT\n");
    return 2;
  }
  const std::string path = std::string(argv[1]) + "/main.hdb";
  const uint64_t count = std::stoull(argv[2]);
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) {
    std::perror(path.c_str());
    return 1;
  }
  std::mt19937_64 random(20261207);
  // Most malware samples are between a few KiB and a few MiB: sizes are drawn log-uniform.
  std::uniform_real_distribution<double> exponent(6.0, 23.0);
  for (uint64_t index = 0; index < count; ++index) {
    const uint64_t high = random();
    const uint64_t low = random();
    const uint64_t size = static_cast<uint64_t>(std::exp2(exponent(random)));
    std::fprintf(out,
                 "%016" PRIx64 "%016" PRIx64 ":%" PRIu64 ":Win.Trojan.Agent-%" PRIu64 "-0:73\n",
                 high, low, size, index + 1000000);
  }
  if (std::fclose(out) != 0) {
    std::perror(path.c_str());
    return 1;
  }
  return 0;
}
