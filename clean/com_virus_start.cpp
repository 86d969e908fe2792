#include "clean/com_virus_start.h"

#include <array>

#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// ComCleanRecord fields; offset 0 holds the VirusId the record was found by.
constexpr int kSavedOffsetField = 2;
constexpr int kSavedLengthField = 4;
constexpr int kVirusLengthField = 6;
constexpr int kEntryDistanceField = 8;
constexpr int kEndDistanceField = 10;
constexpr size_t kSharedFieldsSize = 12;

constexpr uint8_t kJumpNear = 0xE9;
constexpr uint32_t kJumpNearLength = 3;

}  // namespace

std::optional<ComCleanFields> ReadComCleanFields(std::span<const uint8_t> record) {
  if (record.size() < kSharedFieldsSize) return std::nullopt;
  ComCleanFields fields;
  fields.saved_offset = ReadU16(record, kSavedOffsetField);
  fields.saved_length = ReadU16(record, kSavedLengthField);
  fields.virus_length = ReadU16(record, kVirusLengthField);
  fields.entry_distance = ReadU16(record, kEntryDistanceField);
  fields.end_distance = ReadU16(record, kEndDistanceField);
  if (fields.saved_length < kMinSavedBytes || fields.saved_length > kMaxSavedBytes) {
    return std::nullopt;
  }
  return fields;
}

std::optional<uint64_t> LocateComVirusStart(File& file, const ComCleanFields& fields,
                                            uint64_t file_size) {
  std::array<uint8_t, kJumpNearLength> start{};
  if (!ReadExactlyAt(file, 0, start.data(), kJumpNearLength)) return std::nullopt;
  if (start[0] == kJumpNear) {
    // Taken as unsigned and not wrapped: an infector's jump always leads forwards.
    const uint64_t entry = uint64_t{ReadU16(start, 1)} + kJumpNearLength;
    if (fields.entry_distance > entry) return std::nullopt;
    return entry - fields.entry_distance;
  }
  if (fields.end_distance > file_size) return std::nullopt;
  return file_size - fields.end_distance;
}

}  // namespace quarn
