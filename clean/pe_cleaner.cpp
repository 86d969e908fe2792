#include "clean/pe_cleaner.h"

#include <algorithm>
#include <array>
#include <optional>

#include "engine/section_directory.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// PeCleanRecord fields.
constexpr int kSavedEntryField = 2;          // u16, counted from entry − the distance at 4
constexpr int kSavedEntryDistanceField = 4;  // u16
constexpr int kSizeAdjustField = 6;          // u8: 1 subtract, 2 add, other none
constexpr int kDeltaField = 7;               // u16, counted from entry − the distance at 9
constexpr int kDeltaDistanceField = 9;       // u16
constexpr int kWipeCountField = 11;          // u16, 0xFFFF = to the 256-byte boundary
constexpr int kEntryWidthField = 13;         // u8: 1 = three bytes, other = four

constexpr uint8_t kSubtractDelta = 1;
constexpr uint8_t kAddDelta = 2;
constexpr uint16_t kWipeToBoundary = 0xFFFF;
constexpr uint32_t kBoundaryReach = 512;
constexpr uint32_t kBoundary = 256;
constexpr uint8_t kShortEntryWidth = 1;
constexpr uint32_t kShortEntrySize = 3;
constexpr uint8_t kShortEntryTopBits = 0x0F;  // a three-byte entry point has 20 bits

constexpr uint32_t kPeHeaderCopySize = 512;
constexpr uint32_t kEntryPointField = 0x28;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kVirtualSizeField = 8;
constexpr uint32_t kU32Size = 4;

bool InFile(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

// Everything the record asks of the file, worked out and checked before the first write.
struct PeCleaningPlan {
  uint64_t saved_entry_at = 0;
  uint32_t saved_entry_size = 0;
  bool adjust_size = false;
  bool subtract = false;
  uint64_t delta_at = 0;
  uint32_t wipe_count = 0;
};

std::optional<PeCleaningPlan> PlanPeCleaning(const CleaningContext& context,
                                             std::span<const uint8_t> record, File& file) {
  std::optional<uint64_t> size = file.Size();
  const uint64_t entry = context.entry_offset;
  if (!size || entry >= *size) return std::nullopt;
  if (!InFile(context.pe_header_offset, kEntryPointField + kU32Size, *size)) {
    return std::nullopt;
  }

  PeCleaningPlan plan;
  const uint16_t entry_distance = ReadU16(record, kSavedEntryDistanceField);
  if (entry_distance > entry) return std::nullopt;
  plan.saved_entry_at = entry - entry_distance + ReadU16(record, kSavedEntryField);
  plan.saved_entry_size =
      ReadU8(record, kEntryWidthField) == kShortEntryWidth ? kShortEntrySize : kU32Size;
  if (!InFile(plan.saved_entry_at, plan.saved_entry_size, *size)) return std::nullopt;

  const uint8_t adjust = ReadU8(record, kSizeAdjustField);
  plan.adjust_size = adjust == kSubtractDelta || adjust == kAddDelta;
  plan.subtract = adjust == kSubtractDelta;
  if (plan.adjust_size) {
    const uint16_t delta_distance = ReadU16(record, kDeltaDistanceField);
    if (delta_distance > entry) return std::nullopt;
    plan.delta_at = entry - delta_distance + ReadU16(record, kDeltaField);
    if (!InFile(plan.delta_at, kU32Size, *size) ||
        !InFile(context.section_header_offset, kVirtualSizeField + kU32Size, *size)) {
      return std::nullopt;
    }
  }

  const uint16_t count = ReadU16(record, kWipeCountField);
  uint64_t wipe = count == kWipeToBoundary ? kBoundaryReach - entry % kBoundary : count;
  if (wipe > kWipeBlockSize) return std::nullopt;
  plan.wipe_count = static_cast<uint32_t>(std::min<uint64_t>(wipe, *size - entry));
  return plan;
}

bool ReadFully(File& file, uint64_t offset, uint8_t* buffer, uint32_t length) {
  return ReadAt(file, static_cast<int64_t>(offset), buffer, length) == length;
}

}  // namespace

uint32_t CleanPeFile(const CleaningContext& context, const CleanRecord& record, File& copy) {
  static constexpr std::array<uint8_t, kWipeBlockSize> kWipeBlock{};
  if (record.size < kPeCleanRecordSize) return 0;
  std::optional<PeCleaningPlan> plan = PlanPeCleaning(context, record.view(), copy);
  if (!plan) return 0;

  std::array<uint8_t, kPeHeaderCopySize> pe_header{};
  const uint32_t header_read =
      ReadAt(copy, context.pe_header_offset, pe_header.data(), kPeHeaderCopySize);
  uint8_t* entry_point = pe_header.data() + kEntryPointField;
  if (header_read < kEntryPointField + kU32Size ||
      !ReadFully(copy, plan->saved_entry_at, entry_point, plan->saved_entry_size)) {
    return 0;
  }
  if (plan->saved_entry_size == kShortEntrySize) {
    entry_point[2] &= kShortEntryTopBits;
    entry_point[3] = 0;
  }
  // Only the bytes the read delivered go back: a header near the end stays where it ends.
  if (!WriteAt(copy, context.pe_header_offset, pe_header.data(), header_read)) {
    ReportWriteFailure(context);
    return 0;
  }

  if (plan->adjust_size) {
    std::array<uint8_t, kSectionHeaderSize> section{};
    std::array<uint8_t, kU32Size> delta_bytes{};
    const uint32_t section_read = ReadAt(copy, static_cast<int64_t>(context.section_header_offset),
                                         section.data(), kSectionHeaderSize);
    if (section_read < kVirtualSizeField + kU32Size ||
        !ReadFully(copy, plan->delta_at, delta_bytes.data(), kU32Size)) {
      return 0;
    }
    const uint32_t delta = ReadU32(delta_bytes, 0);
    const uint32_t virtual_size = ReadU32(section, kVirtualSizeField);
    WriteU32(section.data() + kVirtualSizeField,
             plan->subtract ? virtual_size - delta : virtual_size + delta);
    if (!WriteAt(copy, context.section_header_offset, section.data(), section_read)) {
      ReportWriteFailure(context);
      return 0;
    }
  }

  if (plan->wipe_count != 0 &&
      !WriteAt(copy, context.entry_offset, kWipeBlock.data(), plan->wipe_count)) {
    ReportWriteFailure(context);
    return 0;
  }
  return 1;
}

}  // namespace quarn
