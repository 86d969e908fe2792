#pragma once

#include <cstdint>

// The generator's only source of chance. SplitMix64 is written out rather than taken from
// <random> because the standard distributions may differ between library vendors, and the
// tree must come out byte for byte the same wherever it is generated.
namespace quarn::bench {

class TreeRandom {
 public:
  explicit TreeRandom(uint64_t seed) : state_(seed) {}

  uint64_t Next();
  // A value in [0, bound); 0 when `bound` is 0. The slight bias of a modulo is of no
  // consequence for picking sizes and kinds.
  uint64_t Below(uint64_t bound);
  // A value in [low, high]; `low` when high < low.
  uint64_t Between(uint64_t low, uint64_t high);

  // The word SplitMix64 yields at step `index` of the sequence started by `seed`, without
  // stepping through the ones before it: lets a large file be filled one chunk at a time.
  static uint64_t At(uint64_t seed, uint64_t index);

 private:
  uint64_t state_;
};

}  // namespace quarn::bench
