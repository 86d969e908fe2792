#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quarn {

// The bytes a compiled matcher is kept as: which signatures it was compiled from (their
// fingerprint), the ones Vectorscan refused, and Vectorscan's own serialized databases,
// followed by a checksum of all of it.
struct MatcherImage {
  struct Refusal {
    uint32_t position = 0;  // in the signature list
    std::string reason;
  };
  uint64_t head = 0;  // of the translation and the count of signatures
  uint64_t fingerprint = 0;
  std::vector<Refusal> refusals;
  // The matcher's table of signatures and the patterns its verifier reads, in its own form.
  std::span<const uint8_t> entries;
  std::span<const uint8_t> packed;
  // Not copied: the databases of a million patterns are a hundred MiB, and Vectorscan copies
  // them again as it loads them.
  std::vector<std::span<const uint8_t>> databases;
};

std::vector<uint8_t> WriteMatcherImage(const MatcherImage& image);

// Nothing for bytes that are not a whole image of this format with a good checksum. The
// image's databases lie in `bytes`.
std::optional<MatcherImage> ReadMatcherImage(std::span<const uint8_t> bytes);

// Whether `bytes` (not empty) are no image at all, or an image of this format version that
// fails its checksum: damage, where an image of another version or for other signatures is
// not (it is compiled again).
bool MatcherImageDamaged(std::span<const uint8_t> bytes);

// A 64-bit hash of bytes, for fingerprints and the checksum: not cryptographic, quick over a
// database of a hundred megabytes. `seed` chains calls.
uint64_t HashBytes(const uint8_t* bytes, size_t length, uint64_t seed);

}  // namespace quarn
