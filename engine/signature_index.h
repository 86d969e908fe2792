#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/database_image.h"
#include "engine/pattern_matcher.h"

namespace quarn {

// How a detector tests a record before anything else: what the index files the record under.
enum class RecordTest : uint8_t {
  // EntrySignatureRecord: 8 bytes at its code offset of the entry code buffer.
  kEntryBytes,
  // OffsetSignatureRecord: 2 code bytes at its code offset of the entry code (or the
  // tail detectors' own) buffer.
  kCodeFilter,
  // EndSignatureRecord: its first pattern (1–8 bytes) at its offset into the tail buffer.
  kFileEnd,
  // MacroSignatureRecord: 8 bytes at its 16-bit offset into the 512-byte macro text.
  kMacroText,
  // PatternRecord: its pattern bytes in order within its window of one of two areas.
  kPattern,
};

// The buffers the byte tests compare with are this long; positions beyond never match.
inline constexpr size_t kIndexedBufferSize = 512;

// One section's records grouped by the bytes that decide, before the detector reads
// anything from the file, whether a record can match: positions in the buffer the first
// test compares with, whose bytes no record's test changes during the walk, and the values
// the record wants there. Where the first test compares two such bytes side by side, the
// record is filed under both ("paired"), so that in a large section a file meets about one
// record in 65,536 rather than one in 256; else under the one byte. Records without such a
// byte are visited always; records whose first test can never pass (a length or an offset
// out of range) never. Ordinals count records in walk order from 0.
struct RecordIndex {
  uint32_t first_record = 0;  // image offset of record 0
  uint8_t record_size = 0;
  uint16_t record_count = 0;
  RecordTest test = RecordTest::kEntryBytes;

  std::vector<uint16_t> always;         // ordinals, ascending
  std::vector<uint16_t> key_positions;  // distinct buffer positions, ascending
  // For key position k and value v, the ordinals ascending in
  // keyed[bucket_starts[k * 257 + v] .. bucket_starts[k * 257 + v + 1]).
  std::vector<uint32_t> bucket_starts;
  std::vector<uint16_t> keyed;

  // Paired records: for the pair position numbered `pair` and the two values there, the
  // ordinals ascending in paired[slot.begin .. slot.end) of the slot holding that code in an
  // open-addressed table (a power of two in size, at most half full). Sized by the records,
  // not by the 65,536 values a pair can take.
  static constexpr uint32_t kNoCode = UINT32_MAX;
  struct PairSlot {
    uint32_t code = kNoCode;
    uint32_t begin = 0;
    uint32_t end = 0;
  };
  std::vector<uint16_t>
      pair_positions;  // distinct buffer positions of a pair's first byte, ascending
  std::vector<PairSlot> pair_slots;
  std::vector<uint16_t> paired;
  // By pair position: the first values some paired record wants there, a bit each. A file
  // meets few of them, and telling that costs less than a look into the table.
  std::vector<std::array<uint64_t, 256 / 64>> pair_first_values;

  // kPattern only, in a section below kPatternTrieFrom records (signature_index.cpp): one per
  // ordinal, a record cannot match unless its first pattern byte occurs within its window of its
  // area.
  struct PatternKey {
    uint8_t first_byte = 0;
    uint8_t window = 0;
    bool at_start = false;  // the file's start rather than the entry
    bool valid = false;     // a length of 1–15
  };
  std::vector<PatternKey> pattern_keys;

  // kPattern only, in a section of kPatternTrieFrom records or more: the records of a length of
  // 1–15 that search the 256 bytes at the entry, and those that search the file's start. Records of
  // another length never match. Held apart: the detectors look their section's index up among all
  // of them, and with two tries in line every index grew by hundreds of bytes, which cost
  // 0.1-0.15 µs a file with the default database.
  struct PatternTries {
    PatternTrie at_entry;
    PatternTrie at_start;
  };
  std::unique_ptr<const PatternTries> pattern_tries;

  std::span<const uint8_t> Record(const DatabaseImage& image, uint16_t ordinal) const {
    return {image.data() + first_record + uint32_t{ordinal} * record_size, record_size};
  }
  // The ordinals filed under `value` at the key position numbered `key`.
  std::span<const uint16_t> Bucket(size_t key, uint8_t value) const {
    const size_t at = key * 257 + value;
    return {keyed.data() + bucket_starts[at], keyed.data() + bucket_starts[at + 1]};
  }
  static uint32_t PairCode(size_t pair, uint8_t first, uint8_t second) {
    return static_cast<uint32_t>(pair << 16) | (uint32_t{first} << 8) | second;
  }
  static uint32_t PairHash(uint32_t code) { return (code * 0x9E3779B1u) >> 7; }
  // The ordinals filed under `first` then `second` at the pair position numbered `pair`.
  std::span<const uint16_t> PairBucket(size_t pair, uint8_t first, uint8_t second) const {
    if ((pair_first_values[pair][first / 64] >> (first % 64) & 1) == 0) return {};
    const uint32_t code = PairCode(pair, first, second);
    const size_t mask = pair_slots.size() - 1;
    for (size_t at = PairHash(code) & mask;; at = (at + 1) & mask) {
      const PairSlot& slot = pair_slots[at];
      if (slot.code == code) return {paired.data() + slot.begin, paired.data() + slot.end};
      if (slot.code == kNoCode) return {};
    }
  }
};

// The indexes of every section a record detector walks, built once over a database image.
// Holds offsets, never pointers into the image, so it serves any image with the same bytes.
class SignatureIndex {
 public:
  explicit SignatureIndex(const DatabaseImage& image);

  // The index of the section at `directory_offset` for detectors that test its records by
  // `test`, or null: that section is then walked record by record.
  const RecordIndex* Find(uint16_t directory_offset, RecordTest test) const;

 private:
  std::vector<std::pair<uint16_t, RecordIndex>> sections_;
};

// Builds the index over `image` and hands it to the image.
void IndexSignatures(DatabaseImage& image);

// The index an image carries for a section and test, or null.
inline const RecordIndex* FindSectionIndex(const DatabaseImage& image, uint16_t directory_offset,
                                           RecordTest test) {
  return image.index() != nullptr ? image.index()->Find(directory_offset, test) : nullptr;
}

}  // namespace quarn
