#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarn::testing {

// `size` bytes that look random and are the same for the same `seed`: file contents whose
// every 16-byte piece is its own, for tests and fuzz seeds alike.
inline std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 1;
  for (uint8_t& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

}  // namespace quarn::testing
