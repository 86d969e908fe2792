#pragma once

// Files on which the imported patterns' verifier once gave matches up, a part of the pattern
// passing at hundreds of thousands of places before the match ends: for the matcher's
// differential test and its bench.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/test_support/executable_builder.h"

namespace quarn::testing {

// A PE of 145 KiB, zeros but for its headers, "55 8B EC 83" at its entry point (file offset
// 0x200) and "C0 FF EE 12 34 56" 64 bytes before its end: "558bec83*00c0ffee123456" at EP+0
// matches it.
inline std::vector<uint8_t> EntryStarPe() {
  constexpr size_t kSize = 145 * 1024;
  return PeBuilder()
      .SectionRawSize(kSize - 0x200)
      .SectionVirtualSize(kSize - 0x200)
      .Code(0x200, {0x55, 0x8B, 0xEC, 0x83})
      .Code(kSize - 64, {0xC0, 0xFF, 0xEE, 0x12, 0x34, 0x56})
      .Size(kSize)
      .Build();
}

// 200,000 bytes of two-byte characters, "00" at every odd place, with `head` at the start and
// `tail` 8 bytes before the end.
inline std::vector<uint8_t> WideText(const std::vector<uint8_t>& head,
                                     const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> bytes(200000);
  for (size_t at = 0; at < bytes.size(); at += 2) bytes[at] = static_cast<uint8_t>('a' + at % 7);
  std::copy(head.begin(), head.end(), bytes.begin());
  std::copy(tail.begin(), tail.end(), bytes.end() - 8);
  return bytes;
}

// "41 00" at every even place below 200,000 (100,000 places apart for the positions a wide
// gap reaches), a lone "41 00" at `lone_at`, then `gap` zeros and `tail`. With `lone_at` up
// to 300,002, `gap` from 100 to 200 and `tail` "41 42", "4100{0-300000}4100{100-200}4142" at
// offset 0 matches it, and only through the lone pair.
inline std::vector<uint8_t> PairsThenLone(size_t lone_at, size_t gap,
                                          const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> bytes(lone_at + 2 + gap);
  for (size_t at = 0; at < 200000; at += 2) bytes[at] = 0x41;
  bytes[lone_at] = 0x41;
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

}  // namespace quarn::testing
