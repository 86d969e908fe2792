#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "imported/matching/signature_matcher.h"

namespace quarn::bench {

// Body signatures mixed as a grown database mixes them: mostly anywhere, some at absolute
// offsets, from the end, from a PE's entry point, a few in sections and a few for compound
// document streams; patterns of 10 to 60 whole bytes with now and then a wildcard, a nibble,
// a gap or a choice. The same seed gives the same signatures.
class ImportedSignatureGenerator {
 public:
  explicit ImportedSignatureGenerator(uint32_t seed) : random_(seed) {}

  std::vector<BodySignature> Signatures(size_t count);

 private:
  size_t Below(size_t bound) { return random_() % bound; }
  PatternPart Whole();
  BodyPattern Pattern();
  void Place(BodySignature& signature);

  std::mt19937 random_;
};

}  // namespace quarn::bench
