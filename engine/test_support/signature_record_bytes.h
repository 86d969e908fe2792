#pragma once

// Signature records for the detector tests, laid out byte by byte apart from the engine's
// own record readers, so that a reader that takes a field from the wrong offset fails.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/byte_reader.h"

namespace quarn::testing {

// An entry record (16 bytes): `code` (up to 8 bytes) expected `code_offset` bytes into the
// entry code, and `confirm` (up to 4 bytes) `confirm_offset` bytes past the entry.
inline std::vector<uint8_t> EntryRecord(uint16_t id, const std::vector<uint8_t>& code,
                                        uint8_t code_offset, uint8_t confirm_offset,
                                        const std::vector<uint8_t>& confirm) {
  std::vector<uint8_t> record(16, 0);
  std::copy(code.begin(), code.end(), record.begin());
  WriteU16(&record[8], id);
  record[10] = confirm_offset;
  std::copy(confirm.begin(), confirm.end(), record.begin() + 11);
  record[15] = code_offset;
  return record;
}

// An offset record (16 bytes): two code bytes at `code_offset`, then `first` (6 bytes)
// `distance` away from the entry and `second` (2 bytes) `gap` bytes past the 16 read there.
inline std::vector<uint8_t> OffsetRecord(uint16_t id, const std::vector<uint8_t>& code,
                                         uint8_t code_offset, uint16_t distance,
                                         const std::vector<uint8_t>& first, uint8_t gap,
                                         const std::vector<uint8_t>& second) {
  std::vector<uint8_t> record(16, 0);
  std::copy(code.begin(), code.end(), record.begin());
  WriteU16(&record[2], id);
  WriteU16(&record[4], distance);
  std::copy(first.begin(), first.end(), record.begin() + 6);
  record[12] = gap;
  std::copy(second.begin(), second.end(), record.begin() + 13);
  record[15] = code_offset;
  return record;
}

// An executable pattern record (20 bytes): `pattern`'s bytes in order within `window` bytes
// of the entry code, or of the file's start when `area` is 1.
inline std::vector<uint8_t> PatternRecord(uint16_t id, const std::vector<uint8_t>& pattern,
                                          uint8_t window, uint8_t area = 0) {
  std::vector<uint8_t> record(20, 0);
  WriteU16(&record[0], id);
  record[2] = static_cast<uint8_t>(pattern.size());
  record[3] = window;
  record[4] = area;
  std::copy(pattern.begin(), pattern.end(), record.begin() + 5);
  return record;
}

}  // namespace quarn::testing
