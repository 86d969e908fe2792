#include "bench/synthetic_database.h"

#include <array>
#include <random>
#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "engine/signature_records.h"
#include "platform/byte_reader.h"

namespace quarn::bench {
namespace {

constexpr uint16_t kFirstSyntheticId = 1000;

// The bytes each kind of record is compared against.
constexpr size_t kEntryCodeLength = 16;
constexpr size_t kFileEndLength = 80;
constexpr size_t kMacroTextWindowLength = 512;

// PatternRecord fields.
constexpr int kPatternIdField = 0;
constexpr int kPatternLengthField = 2;
constexpr int kPatternWindowField = 3;
constexpr int kPatternAreaField = 4;
constexpr uint8_t kPatternMaxLength = 15;

// The pattern records of the mixed database.
constexpr uint8_t kMixedPatternMinLength = 8;
constexpr uint8_t kMixedPatternMinWindow = 32;

// EndSignatureRecord fields.
constexpr int kEndIdField = 0;
constexpr int kEndTailOffsetField = 2;
constexpr int kEndFirstLengthField = 3;
constexpr uint8_t kEndFirstMaxLength = 8;
constexpr int kEndSecondLengthField = 14;
constexpr uint8_t kEndSecondMaxLength = 4;

// MacroSignatureRecord fields.
constexpr int kMacroIdField = 0;
constexpr int kMacroFirstOffsetField = 2;
constexpr size_t kMacroFirstPatternLength = 8;
constexpr int kMacroSecondOffsetField = 12;
constexpr size_t kMacroSecondPatternLength = 4;

// MemoryPatternRecord fields.
constexpr int kMemoryIdField = 14;

enum class Layout { kEntry, kOffset, kPattern, kMixedPattern, kFileEnd, kMacro, kMemory };

struct WalkedSection {
  int index;
  Layout layout;
  SectionGroup group;
};

constexpr SectionGroup kKeyed = SectionGroup::kKeyed;
constexpr WalkedSection kWalkedSections[] = {
    {kExeEntrySection, Layout::kEntry, kKeyed},
    {kExeCallSection, Layout::kOffset, SectionGroup::kCall},
    {kExeForwardSection, Layout::kOffset, kKeyed},
    {kExeBackwardSection, Layout::kOffset, kKeyed},
    {kExePatternSection, Layout::kPattern, SectionGroup::kPattern},
    {kComTailParagraphSection, Layout::kOffset, kKeyed},
    {kComTailSection, Layout::kOffset, kKeyed},
    {kComEntrySection, Layout::kEntry, kKeyed},
    {kComCallSection, Layout::kOffset, SectionGroup::kCall},
    {kComForwardSection, Layout::kOffset, kKeyed},
    {kComBackwardSection, Layout::kOffset, kKeyed},
    {kComEndSection, Layout::kFileEnd, kKeyed},
    {kComPatternSection, Layout::kPattern, SectionGroup::kPattern},
    {kMacroSection, Layout::kMacro, kKeyed},
    {kPeEntrySection, Layout::kOffset, kKeyed},
    {kMemoryPatternSection, Layout::kMemory, SectionGroup::kMemory},
};

// Random bytes in every field, then the fields that decide whether a record is compared at
// all set so that it is.
std::vector<uint8_t> MakeRecord(Layout layout, uint8_t size, uint16_t id, std::mt19937& random) {
  std::vector<uint8_t> record(size);
  for (uint8_t& byte : record) byte = static_cast<uint8_t>(random());
  auto below = [&random](size_t bound) { return static_cast<uint16_t>(random() % bound); };
  switch (layout) {
    case Layout::kEntry:
      WriteU16(&record[kEntryIdField], id);
      record[kEntryCodeOffsetField] =
          static_cast<uint8_t>(below(kEntryCodeLength - kEntryBytesLength + 1));
      break;
    case Layout::kOffset:
      WriteU16(&record[kOffsetIdField], id);
      record[kOffsetCodeOffsetField] =
          static_cast<uint8_t>(below(kEntryCodeLength - kOffsetCodeLength + 1));
      break;
    case Layout::kPattern:
      WriteU16(&record[kPatternIdField], id);
      record[kPatternLengthField] = kPatternMaxLength;
      break;
    case Layout::kMixedPattern:
      WriteU16(&record[kPatternIdField], id);
      record[kPatternLengthField] = static_cast<uint8_t>(
          kMixedPatternMinLength + below(kPatternMaxLength - kMixedPatternMinLength + 1));
      record[kPatternWindowField] =
          static_cast<uint8_t>(kMixedPatternMinWindow + below(256 - kMixedPatternMinWindow));
      record[kPatternAreaField] = static_cast<uint8_t>(below(2));
      break;
    case Layout::kFileEnd:
      WriteU16(&record[kEndIdField], id);
      record[kEndTailOffsetField] =
          static_cast<uint8_t>(below(kFileEndLength - kEndFirstMaxLength + 1));
      record[kEndFirstLengthField] = kEndFirstMaxLength;
      record[kEndSecondLengthField] = kEndSecondMaxLength;
      break;
    case Layout::kMacro:
      WriteU16(&record[kMacroIdField], id);
      WriteU16(&record[kMacroFirstOffsetField],
               below(kMacroTextWindowLength - kMacroFirstPatternLength + 1));
      WriteU16(&record[kMacroSecondOffsetField],
               below(kMacroTextWindowLength - kMacroSecondPatternLength + 1));
      break;
    case Layout::kMemory:
      // A first pattern byte of 0 could find zeros in memory that holds nothing.
      record[0] = static_cast<uint8_t>(1 + below(255));
      WriteU16(&record[kMemoryIdField], id);
      break;
  }
  return record;
}

struct SectionShape {
  uint16_t count;
  Layout layout;
};

// Every walked section with the records `shape_of` asks for, drawn in section order.
template <typename ShapeOf>
Result<DatabaseImage> BuildSections(uint32_t seed, ShapeOf shape_of) {
  std::mt19937 random(seed);
  DatabaseContent content;
  content.version = 1;
  content.month = 1;
  content.year = 2026;
  uint16_t next_id = kFirstSyntheticId;
  for (const WalkedSection& section : kWalkedSections) {
    const uint8_t size = ReaderRecordSize(section.index);
    auto& records = content.sections[section.index].records;
    const SectionShape shape = shape_of(section);
    records.reserve(shape.count);
    for (uint16_t n = 0; n < shape.count; ++n) {
      records.push_back(MakeRecord(shape.layout, size, next_id, random));
      // Ids wrap within 16 bits; they only have to be non-zero and clear of the special ones.
      next_id = next_id == 0xFFFF ? kFirstSyntheticId : static_cast<uint16_t>(next_id + 1);
    }
  }
  auto bytes = BuildSignatureImage(content);
  if (!bytes) return bytes.status();
  DatabaseImage image(*bytes);
  for (const WalkedSection& section : kWalkedSections) {
    SectionWalk walk(image, DirectoryOffset(section.index), ReaderRecordSize(section.index));
    const uint16_t wanted = shape_of(section).count;
    if (walk.record_count() != wanted) {
      return Status::Error("section " + std::to_string(section.index) + " walks " +
                           std::to_string(walk.record_count()) + " records, not " +
                           std::to_string(wanted));
    }
  }
  return image;
}

}  // namespace

Result<DatabaseImage> BuildSyntheticSignatures(uint16_t records_per_section, uint32_t seed) {
  return BuildSyntheticSignatures(records_per_section, seed, {}, records_per_section);
}

Result<DatabaseImage> BuildSyntheticSignatures(uint16_t records_per_section, uint32_t seed,
                                               ScaledSections scaled, uint16_t other_records) {
  const bool scale_all = records_per_section == other_records;
  return BuildSections(seed, [&](const WalkedSection& section) {
    const bool in_group = (scaled.group == SectionGroup::kEvery || section.group == scaled.group) &&
                          (scaled.section < 0 || scaled.section == section.index) &&
                          scaled.except != section.index;
    return SectionShape{scale_all || in_group ? records_per_section : other_records,
                        section.layout};
  });
}

Result<DatabaseImage> BuildMixedSignatures(uint32_t total_records, uint32_t seed) {
  struct Share {
    uint32_t percent;
    std::vector<int> sections;
  };
  const Share shares[] = {
      {40, {kExeEntrySection, kComEntrySection, kPeEntrySection}},
      {20,
       {kExeForwardSection, kExeBackwardSection, kComTailParagraphSection, kComTailSection,
        kComForwardSection, kComBackwardSection}},
      {10, {kComEndSection}},
      {23, {kExePatternSection, kComPatternSection}},
      {5, {kMacroSection}},
  };
  uint32_t percent_total = 0;
  for (const Share& share : shares) percent_total += share.percent;
  std::array<uint32_t, kSectionCount> counts{};
  for (const Share& share : shares) {
    const uint64_t group = uint64_t{total_records} * share.percent / percent_total;
    for (size_t i = 0; i < share.sections.size(); ++i) {
      // The remainder goes to the group's first sections, one each.
      counts[share.sections[i]] = static_cast<uint32_t>(
          group / share.sections.size() + (i < group % share.sections.size() ? 1 : 0));
    }
  }
  for (uint32_t count : counts) {
    if (count > 0xFFFF) return Status::Error("a section would hold more than 65,535 records");
  }
  return BuildSections(seed, [&](const WalkedSection& section) {
    const Layout layout =
        section.layout == Layout::kPattern ? Layout::kMixedPattern : section.layout;
    return SectionShape{static_cast<uint16_t>(counts[section.index]), layout};
  });
}

}  // namespace quarn::bench
