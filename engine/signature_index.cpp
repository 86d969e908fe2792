#include "engine/signature_index.h"

#include <algorithm>
#include <array>
#include <optional>

#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "engine/signature_records.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

// The bytes confirmation reads overwrite in the entry code buffer (and in the tail
// detectors' buffer) while a walk goes on: no key may lie there.
constexpr size_t kScratchLength = 16;

// EndSignatureRecord fields.
constexpr int kEndTailOffsetField = 2;
constexpr int kEndFirstLengthField = 3;
constexpr int kEndFirstPatternField = 4;
constexpr uint8_t kEndFirstMaxLength = 8;

// MacroSignatureRecord fields.
constexpr int kMacroFirstOffsetField = 2;
constexpr int kMacroFirstPatternField = 4;
constexpr uint8_t kMacroFirstPatternLength = 8;

// PatternRecord fields.
constexpr int kPatternLengthField = 2;
constexpr int kPatternWindowField = 3;
constexpr int kPatternAreaField = 4;
constexpr int kPatternBytesField = 5;

constexpr size_t kValues = 256;

// From this many records a pattern section is searched through tries of its patterns;
// below it, record by record, as it always was. Taken from detection_bench, where the two
// cross: with section 13 scaled the tries break even at about 500 records per file that
// searches it and win from there (data_8m 4.1 against 4.8 µs at 500, 4.6 against 7.5 at
// 1,000); with section 4 scaled the walk stays ahead by about 0.3 µs until near 750. At 100
// records a section, and in the default database, the tries cost 0.3-0.5 µs more a file.
constexpr uint16_t kPatternTrieFrom = 500;

struct IndexedSection {
  int section;
  RecordTest test;
};

constexpr IndexedSection kIndexedSections[] = {
    {kExeEntrySection, RecordTest::kEntryBytes},
    {kComEntrySection, RecordTest::kEntryBytes},
    {kExeForwardSection, RecordTest::kCodeFilter},
    {kExeBackwardSection, RecordTest::kCodeFilter},
    {kComTailParagraphSection, RecordTest::kCodeFilter},
    {kComTailSection, RecordTest::kCodeFilter},
    {kComForwardSection, RecordTest::kCodeFilter},
    {kComBackwardSection, RecordTest::kCodeFilter},
    {kPeEntrySection, RecordTest::kCodeFilter},
    {kComEndSection, RecordTest::kFileEnd},
    {kMacroSection, RecordTest::kMacroText},
    {kExePatternSection, RecordTest::kPattern},
    {kComPatternSection, RecordTest::kPattern},
};

uint8_t RecordSize(RecordTest test) {
  switch (test) {
    case RecordTest::kEntryBytes:
      return kEntrySignatureRecordSize;
    case RecordTest::kCodeFilter:
      return kOffsetSignatureRecordSize;
    case RecordTest::kFileEnd:
      return kEndSignatureRecordSize;
    case RecordTest::kMacroText:
      return kMacroSignatureRecordSize;
    case RecordTest::kPattern:
      return kPatternRecordSize;
  }
  return 0;
}

// The bytes a record's first test compares, and where in the buffer.
struct FirstTest {
  size_t position = 0;
  const uint8_t* expected = nullptr;
  size_t length = 0;
};

// Nothing when the first test can never pass, so the detector moves on without reading.
std::optional<FirstTest> FirstTestOf(RecordTest test, std::span<const uint8_t> record) {
  FirstTest first;
  switch (test) {
    case RecordTest::kEntryBytes:
      first = {record[kEntryCodeOffsetField], record.data() + kEntryBytesField, kEntryBytesLength};
      break;
    case RecordTest::kCodeFilter:
      first = {record[kOffsetCodeOffsetField], record.data() + kOffsetCodeField, kOffsetCodeLength};
      break;
    case RecordTest::kFileEnd: {
      const uint8_t length = record[kEndFirstLengthField];
      if (length == 0 || length > kEndFirstMaxLength) return std::nullopt;
      first = {record[kEndTailOffsetField], record.data() + kEndFirstPatternField, length};
      break;
    }
    case RecordTest::kMacroText:
      first = {ReadU16(record, kMacroFirstOffsetField), record.data() + kMacroFirstPatternField,
               kMacroFirstPatternLength};
      break;
    case RecordTest::kPattern:
      return std::nullopt;
  }
  if (first.position + first.length > kIndexedBufferSize) return std::nullopt;
  return first;
}

// Whether the byte at `position` keeps its value while the detector walks the section.
bool Stable(RecordTest test, size_t position) {
  if (test == RecordTest::kEntryBytes || test == RecordTest::kCodeFilter) {
    return position < kScratchOffset || position >= kScratchOffset + kScratchLength;
  }
  return true;
}

enum class Filing { kNever, kAlways, kKeyed, kPaired };
struct Key {
  Filing filing = Filing::kAlways;
  uint16_t position = 0;
  uint8_t value = 0;
  uint8_t second_value = 0;  // kPaired: the value at position + 1
};

// A record is paired at a position that is a multiple of this where its compared bytes hold
// one: a walk looks at each pair position of the section, and records that compare eight
// bytes at any offset then share a quarter of the positions rather than one each.
constexpr size_t kPairStride = 4;

Key KeyOf(RecordTest test, std::span<const uint8_t> record) {
  const std::optional<FirstTest> first = FirstTestOf(test, record);
  if (!first) return {Filing::kNever};
  std::optional<size_t> pair;
  for (size_t i = 0; i + 1 < first->length; ++i) {
    if (!Stable(test, first->position + i) || !Stable(test, first->position + i + 1)) continue;
    if (!pair) pair = i;
    if ((first->position + i) % kPairStride == 0) {
      pair = i;
      break;
    }
  }
  if (pair) {
    return {Filing::kPaired, static_cast<uint16_t>(first->position + *pair), first->expected[*pair],
            first->expected[*pair + 1]};
  }
  for (size_t i = 0; i < first->length; ++i) {
    if (Stable(test, first->position + i)) {
      return {Filing::kKeyed, static_cast<uint16_t>(first->position + i), first->expected[i]};
    }
  }
  return {Filing::kAlways};
}

// Numbers the positions `used` marks in ascending order into `positions`; gives each
// position's number.
std::array<uint16_t, kIndexedBufferSize> NumberPositions(
    const std::array<bool, kIndexedBufferSize>& used, std::vector<uint16_t>& positions) {
  std::array<uint16_t, kIndexedBufferSize> number{};
  for (uint16_t position = 0; position < kIndexedBufferSize; ++position) {
    if (!used[position]) continue;
    number[position] = static_cast<uint16_t>(positions.size());
    positions.push_back(position);
  }
  return number;
}

// The slot for `code`: the one holding it, or the empty one where it belongs.
RecordIndex::PairSlot& SlotFor(std::vector<RecordIndex::PairSlot>& slots, uint32_t code) {
  const size_t mask = slots.size() - 1;
  for (size_t at = RecordIndex::PairHash(code) & mask;; at = (at + 1) & mask) {
    if (slots[at].code == code || slots[at].code == RecordIndex::kNoCode) return slots[at];
  }
}

void FilePairs(RecordIndex& index, const std::vector<Key>& keys, size_t paired_count) {
  std::array<bool, kIndexedBufferSize> used{};
  for (const Key& key : keys) {
    if (key.filing == Filing::kPaired) used[key.position] = true;
  }
  const std::array<uint16_t, kIndexedBufferSize> pair_number =
      NumberPositions(used, index.pair_positions);
  if (index.pair_positions.empty()) return;
  size_t slot_count = 2;
  while (slot_count < 2 * paired_count) slot_count *= 2;
  index.pair_slots.assign(slot_count, {});
  index.pair_first_values.assign(index.pair_positions.size(), {});
  for (const Key& key : keys) {
    if (key.filing != Filing::kPaired) continue;
    index.pair_first_values[pair_number[key.position]][key.value / 64] |= uint64_t{1}
                                                                          << (key.value % 64);
  }
  auto code_of = [&](const Key& key) {
    return RecordIndex::PairCode(pair_number[key.position], key.value, key.second_value);
  };
  // Count each code's records in `end`, lay the runs out one after another in slot order,
  // then place the ordinals, ascending within each run since they are taken in order.
  for (const Key& key : keys) {
    if (key.filing != Filing::kPaired) continue;
    RecordIndex::PairSlot& slot = SlotFor(index.pair_slots, code_of(key));
    slot.code = code_of(key);
    ++slot.end;
  }
  uint32_t start = 0;
  for (RecordIndex::PairSlot& slot : index.pair_slots) {
    const uint32_t count = slot.end;
    slot.begin = slot.end = start;
    start += count;
  }
  index.paired.resize(start);
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].filing != Filing::kPaired) continue;
    index.paired[SlotFor(index.pair_slots, code_of(keys[i])).end++] = static_cast<uint16_t>(i);
  }
}

void FileByKey(RecordIndex& index, const DatabaseImage& image) {
  std::vector<Key> keys(index.record_count);
  std::array<bool, kIndexedBufferSize> used{};
  size_t paired_count = 0;
  for (uint16_t i = 0; i < index.record_count; ++i) {
    keys[i] = KeyOf(index.test, index.Record(image, i));
    if (keys[i].filing == Filing::kAlways) index.always.push_back(i);
    if (keys[i].filing == Filing::kKeyed) used[keys[i].position] = true;
    if (keys[i].filing == Filing::kPaired) ++paired_count;
  }
  const std::array<uint16_t, kIndexedBufferSize> key_number =
      NumberPositions(used, index.key_positions);
  // Counting sort by (key, value); ordinals stay ascending within a bucket.
  index.bucket_starts.assign(index.key_positions.size() * (kValues + 1) + 1, 0);
  auto bucket_of = [&](const Key& key) {
    return key_number[key.position] * (kValues + 1) + key.value;
  };
  for (const Key& key : keys) {
    if (key.filing == Filing::kKeyed) ++index.bucket_starts[bucket_of(key) + 1];
  }
  for (size_t i = 1; i < index.bucket_starts.size(); ++i) {
    index.bucket_starts[i] += index.bucket_starts[i - 1];
  }
  index.keyed.resize(index.bucket_starts.back());
  std::vector<uint32_t> next(index.bucket_starts.begin(), index.bucket_starts.end() - 1);
  for (uint16_t i = 0; i < index.record_count; ++i) {
    if (keys[i].filing == Filing::kKeyed) index.keyed[next[bucket_of(keys[i])]++] = i;
  }
  FilePairs(index, keys, paired_count);
}

void FileByPattern(RecordIndex& index, const DatabaseImage& image) {
  if (index.record_count < kPatternTrieFrom) {
    index.pattern_keys.resize(index.record_count);
    for (uint16_t i = 0; i < index.record_count; ++i) {
      std::span<const uint8_t> record = index.Record(image, i);
      const uint8_t length = record[kPatternLengthField];
      index.pattern_keys[i] = {record[kPatternBytesField], record[kPatternWindowField],
                               record[kPatternAreaField] != 0,
                               length != 0 && length <= PatternEntry::kMaxLength};
    }
    return;
  }
  std::vector<PatternEntry> at_entry;
  std::vector<PatternEntry> at_start;
  for (uint16_t i = 0; i < index.record_count; ++i) {
    std::span<const uint8_t> record = index.Record(image, i);
    PatternEntry entry{i, record[kPatternWindowField], record[kPatternLengthField]};
    if (entry.length == 0 || entry.length > PatternEntry::kMaxLength) continue;
    std::copy_n(record.begin() + kPatternBytesField, entry.length, entry.bytes.begin());
    (record[kPatternAreaField] == 0 ? at_entry : at_start).push_back(entry);
  }
  index.pattern_tries = std::make_unique<const RecordIndex::PatternTries>(RecordIndex::PatternTries{
      PatternTrie(std::move(at_entry)), PatternTrie(std::move(at_start))});
}

}  // namespace

SignatureIndex::SignatureIndex(const DatabaseImage& image) {
  for (const IndexedSection& indexed : kIndexedSections) {
    const uint16_t directory_offset = DirectoryOffset(indexed.section);
    SectionWalk walk(image, directory_offset, RecordSize(indexed.test));
    if (walk.AtEnd()) continue;  // nothing to walk: the linear walk costs nothing either
    RecordIndex index;
    index.first_record = walk.descriptor().offset;
    index.record_size = RecordSize(indexed.test);
    index.record_count = walk.record_count();
    index.test = indexed.test;
    if (indexed.test == RecordTest::kPattern) {
      FileByPattern(index, image);
    } else {
      FileByKey(index, image);
    }
    sections_.emplace_back(directory_offset, std::move(index));
  }
}

const RecordIndex* SignatureIndex::Find(uint16_t directory_offset, RecordTest test) const {
  for (const auto& [offset, index] : sections_) {
    if (offset == directory_offset && index.test == test) return &index;
  }
  return nullptr;
}

void IndexSignatures(DatabaseImage& image) {
  image.SetIndex(std::make_shared<const SignatureIndex>(image));
}

}  // namespace quarn
