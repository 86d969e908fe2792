#include "bench/scan_tree/tree_random.h"

namespace quarn::bench {
namespace {

constexpr uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ull;

uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

uint64_t TreeRandom::Next() {
  state_ += kGoldenGamma;
  return Mix(state_);
}

uint64_t TreeRandom::Below(uint64_t bound) {
  return bound == 0 ? 0 : Next() % bound;
}

uint64_t TreeRandom::Between(uint64_t low, uint64_t high) {
  if (high < low) return low;
  return low + Below(high - low + 1);
}

uint64_t TreeRandom::At(uint64_t seed, uint64_t index) {
  return Mix(seed + (index + 1) * kGoldenGamma);
}

}  // namespace quarn::bench
