#pragma once

// Byte helpers the tests share: pieces joined, a ramp of bytes, a patch at an offset, and
// values several tests compare against.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace quarn::testing {

// `parts` one after the other.
inline std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> joined;
  for (const std::vector<uint8_t>& part : parts)
    joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// A file whose byte i is (first + i) mod 251, so no short run of bytes repeats nearby.
inline std::vector<uint8_t> Ramp(size_t size, uint8_t first = 0) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((first + i) % 251);
  return bytes;
}

// Copies `bytes` over `target` from `at`; the caller sizes `target` to hold them.
inline void PutBytes(std::vector<uint8_t>& target, size_t at, const std::vector<uint8_t>& bytes) {
  ASSERT_LE(at + bytes.size(), target.size()) << "patch at " << at;
  std::copy(bytes.begin(), bytes.end(), target.begin() + static_cast<std::ptrdiff_t>(at));
}

// A flag value that no detector or tracer writes, to see whether one wrote at all.
inline constexpr uint16_t kUntouchedFlag = 9;

inline const std::string kEicarText =
    "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

// The COM entry record (section 8) that finds kEicarText as virus 1, exactly: its first 8
// bytes at the entry, "H+H*" 64 bytes on.
inline std::vector<uint8_t> EicarEntryRecord() {
  std::vector<uint8_t> record(16, 0);
  std::copy_n("X5O!P%@A", 8, record.begin());
  record[8] = 1;
  record[10] = 64;
  std::copy_n("H+H*", 4, record.begin() + 11);
  return record;
}

}  // namespace quarn::testing
