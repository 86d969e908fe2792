#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace quarn {

// Little-endian reads that check offset and length against the buffer. Out-of-range reads
// yield 0 (or false), never a read outside `bytes`.
inline bool Fits(std::span<const uint8_t> bytes, uint64_t offset, uint64_t length) {
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

inline uint8_t ReadU8(std::span<const uint8_t> bytes, uint64_t offset) {
  return Fits(bytes, offset, 1) ? bytes[offset] : 0;
}

inline uint16_t ReadU16(std::span<const uint8_t> bytes, uint64_t offset) {
  if (!Fits(bytes, offset, 2)) return 0;
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline uint32_t ReadU32(std::span<const uint8_t> bytes, uint64_t offset) {
  if (!Fits(bytes, offset, 4)) return 0;
  return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
         (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

inline uint64_t ReadU64(std::span<const uint8_t> bytes, uint64_t offset) {
  if (!Fits(bytes, offset, 8)) return 0;
  return ReadU32(bytes, offset) | (static_cast<uint64_t>(ReadU32(bytes, offset + 4)) << 32);
}

// Big-endian reads, for the formats of other machines (a VHD's footer), bounded the same way.
inline uint32_t ReadBigU32(std::span<const uint8_t> bytes, uint64_t offset) {
  if (!Fits(bytes, offset, 4)) return 0;
  return (static_cast<uint32_t>(bytes[offset]) << 24) |
         (static_cast<uint32_t>(bytes[offset + 1]) << 16) |
         (static_cast<uint32_t>(bytes[offset + 2]) << 8) | static_cast<uint32_t>(bytes[offset + 3]);
}

inline uint64_t ReadBigU64(std::span<const uint8_t> bytes, uint64_t offset) {
  if (!Fits(bytes, offset, 8)) return 0;
  return (static_cast<uint64_t>(ReadBigU32(bytes, offset)) << 32) | ReadBigU32(bytes, offset + 4);
}

// True when `length` bytes at `offset` equal `expected`; false when they do not fit.
inline bool BytesEqual(std::span<const uint8_t> bytes, uint64_t offset, const uint8_t* expected,
                       size_t length) {
  return Fits(bytes, offset, length) && std::memcmp(bytes.data() + offset, expected, length) == 0;
}

inline void WriteU16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteU32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace quarn
