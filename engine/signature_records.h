#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn {

// Field offsets of the record layouts that several detectors walk.

// EntrySignatureRecord (16 bytes).
inline constexpr int kEntryBytesField = 0;
inline constexpr size_t kEntryBytesLength = 8;
inline constexpr int kEntryIdField = 8;
inline constexpr int kEntryConfirmOffsetField = 10;
inline constexpr int kEntryConfirmField = 11;
inline constexpr size_t kEntryConfirmLength = 4;
inline constexpr int kEntryCodeOffsetField = 15;

// OffsetSignatureRecord (16 bytes).
inline constexpr int kOffsetCodeField = 0;
inline constexpr size_t kOffsetCodeLength = 2;
inline constexpr int kOffsetIdField = 2;
inline constexpr int kOffsetDistanceField = 4;
inline constexpr int kOffsetFirstConfirmField = 6;
inline constexpr size_t kOffsetFirstConfirmLength = 6;
inline constexpr int kOffsetGapField = 12;
inline constexpr int kOffsetSecondConfirmField = 13;
inline constexpr size_t kOffsetSecondConfirmLength = 2;
inline constexpr int kOffsetCodeOffsetField = 15;

// Confirmation reads land in a detector's buffer from this byte on.
inline constexpr size_t kScratchOffset = 18;

// What a record walk found: an exact match ends it; a partial one is remembered, the last
// one found winning.
struct DetectorMatch {
  uint32_t exact = 0;
  uint32_t partial = 0;

  // The detectors' result protocol: exact → flag 0 and its VirusId; else a partial match →
  // flag 1 and its VirusId; else 0 with the flag untouched.
  uint32_t Report(uint16_t* variant_flag) const {
    if (exact != 0) {
      *variant_flag = 0;
      return exact;
    }
    if (partial != 0) {
      *variant_flag = 1;
      return partial;
    }
    return 0;
  }
};

}  // namespace quarn
