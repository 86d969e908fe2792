#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/database_image.h"

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

// One section's records grouped by the one byte that decides, before the detector reads
// anything from the file, whether a record can match: a position in the buffer the first
// test compares with, whose byte no record's test changes during the walk, and the value
// the record wants there. Records without such a byte are visited always; records whose
// first test can never pass (a length or an offset out of range) never. Ordinals count
// records in walk order from 0.
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

  // kPattern only, one per ordinal: a record cannot match unless its first pattern byte
  // occurs within its window of its area.
  struct PatternKey {
    uint8_t first_byte = 0;
    uint8_t window = 0;
    bool at_start = false;  // the file's start rather than the entry
    bool valid = false;     // a length of 1–15
  };
  std::vector<PatternKey> pattern_keys;

  std::span<const uint8_t> Record(const DatabaseImage& image, uint16_t ordinal) const {
    return {image.data() + first_record + uint32_t{ordinal} * record_size, record_size};
  }
  // The ordinals filed under `value` at the key position numbered `key`.
  std::span<const uint16_t> Bucket(size_t key, uint8_t value) const {
    const size_t at = key * 257 + value;
    return {keyed.data() + bucket_starts[at], keyed.data() + bucket_starts[at + 1]};
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
