#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quarn {

// Little-endian fields of on-disk records, read with a bounds check: a field that would
// pass the end of `bytes` reads as 0, which every caller treats as an implausible value.
inline uint8_t U8At(std::span<const uint8_t> bytes, size_t offset) {
  return offset < bytes.size() ? bytes[offset] : 0;
}

inline uint16_t U16At(std::span<const uint8_t> bytes, size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 2) return 0;
  return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

inline uint32_t U32At(std::span<const uint8_t> bytes, size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
  return static_cast<uint32_t>(U16At(bytes, offset)) |
         static_cast<uint32_t>(U16At(bytes, offset + 2)) << 16;
}

}  // namespace quarn
