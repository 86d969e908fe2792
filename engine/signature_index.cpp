#include "engine/signature_index.h"

#include <array>
#include <optional>

#include "engine/byte_reader.h"
#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "engine/signature_records.h"

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
constexpr uint8_t kPatternMaxLength = 15;

constexpr size_t kValues = 256;

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

enum class Filing { kNever, kAlways, kKeyed };
struct Key {
  Filing filing = Filing::kAlways;
  uint16_t position = 0;
  uint8_t value = 0;
};

Key KeyOf(RecordTest test, std::span<const uint8_t> record) {
  const std::optional<FirstTest> first = FirstTestOf(test, record);
  if (!first) return {Filing::kNever};
  for (size_t i = 0; i < first->length; ++i) {
    if (Stable(test, first->position + i)) {
      return {Filing::kKeyed, static_cast<uint16_t>(first->position + i), first->expected[i]};
    }
  }
  return {Filing::kAlways};
}

void FileByKey(RecordIndex& index, const DatabaseImage& image) {
  std::vector<Key> keys(index.record_count);
  std::array<bool, kIndexedBufferSize> used{};
  for (uint16_t i = 0; i < index.record_count; ++i) {
    keys[i] = KeyOf(index.test, index.Record(image, i));
    if (keys[i].filing == Filing::kAlways) index.always.push_back(i);
    if (keys[i].filing == Filing::kKeyed) used[keys[i].position] = true;
  }
  std::array<uint16_t, kIndexedBufferSize> key_number{};
  for (uint16_t position = 0; position < kIndexedBufferSize; ++position) {
    if (!used[position]) continue;
    key_number[position] = static_cast<uint16_t>(index.key_positions.size());
    index.key_positions.push_back(position);
  }
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
}

void FileByPattern(RecordIndex& index, const DatabaseImage& image) {
  index.pattern_keys.resize(index.record_count);
  for (uint16_t i = 0; i < index.record_count; ++i) {
    std::span<const uint8_t> record = index.Record(image, i);
    const uint8_t length = record[kPatternLengthField];
    index.pattern_keys[i] = {record[kPatternBytesField], record[kPatternWindowField],
                             record[kPatternAreaField] != 0,
                             length != 0 && length <= kPatternMaxLength};
  }
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
