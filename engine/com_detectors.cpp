#include "engine/com_detectors.h"

#include <array>
#include <optional>
#include <span>

#include "engine/candidate_walk.h"
#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "engine/signature_index.h"
#include "engine/signature_records.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// EndSignatureRecord fields.
constexpr int kEndIdField = 0;
constexpr int kEndTailOffsetField = 2;
constexpr int kEndFirstLengthField = 3;
constexpr int kEndFirstPatternField = 4;
constexpr uint8_t kEndFirstMaxLength = 8;
constexpr int kEndDistanceField = 12;
constexpr int kEndSecondLengthField = 14;
constexpr int kEndSecondPatternField = 15;
constexpr uint8_t kEndSecondMaxLength = 4;

constexpr uint32_t kStartReadSize = 16;
constexpr uint32_t kConfirmReadSize = 16;
constexpr uint32_t kEntryCodeSize = 16;
constexpr uint32_t kTailSize = 80;
constexpr uint32_t kParagraphSize = 16;

// First bytes of the instructions whose target is a COM file's entry.
constexpr uint8_t kJumpShort = 0xEB;
constexpr uint8_t kJumpNear = 0xE9;
constexpr uint8_t kCallNear = 0xE8;

// The file's size in the 32 bits the record distances are measured against.
std::optional<uint32_t> Size32(File& file) {
  std::optional<uint64_t> size = file.Size();
  if (!size) return std::nullopt;
  return static_cast<uint32_t>(*size);
}

// size − amount, or the start of the file when that lies before it.
uint32_t FromEnd(uint32_t size, uint32_t amount) {
  return amount > size ? 0 : size - amount;
}

enum class TailRounding { kParagraph, kNone };

// The three-stage test of the tail detectors, over their own copy of the file's start.
uint32_t ScanTail(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                  uint16_t directory_offset, TailRounding rounding) {
  std::array<uint8_t, kDetectorBufferSize> buffer{};
  std::span<const uint8_t> bytes(buffer);
  uint8_t* scratch = buffer.data() + kScratchOffset;
  if (ReadAt(file, 0, buffer.data(), kStartReadSize) == 0) return 0;
  std::optional<uint32_t> size = Size32(file);
  if (!size) return 0;

  DetectorMatch match;
  const RecordIndex* index =
      FindSectionIndex(signatures, directory_offset, RecordTest::kCodeFilter);
  for (CandidateWalk walk(signatures, directory_offset, kOffsetSignatureRecordSize, index, bytes);
       !walk.AtEnd(); walk.Next()) {
    std::span<const uint8_t> record = walk.Record();
    // A code offset past the first 16 bytes compares what earlier records' confirmation
    // reads left in the buffer; that is the buffer's content, so it is compared as it is.
    if (!BytesEqual(bytes, record[kOffsetCodeOffsetField], record.data() + kOffsetCodeField,
                    kOffsetCodeLength)) {
      continue;
    }
    uint32_t first_at = FromEnd(*size, ReadU16(record, kOffsetDistanceField));
    if (rounding == TailRounding::kParagraph) first_at = first_at / kParagraphSize * kParagraphSize;
    uint32_t read = ReadAt(file, first_at, scratch, kConfirmReadSize);
    if (read == 0) continue;
    if (!BytesEqual(bytes, kScratchOffset, record.data() + kOffsetFirstConfirmField,
                    kOffsetFirstConfirmLength)) {
      continue;
    }
    match.partial = ReadU16(record, kOffsetIdField);
    int64_t second_at = int64_t{first_at} + read + record[kOffsetGapField];
    if (ReadAt(file, second_at, scratch, kConfirmReadSize) == 0) continue;
    if (BytesEqual(bytes, kScratchOffset, record.data() + kOffsetSecondConfirmField,
                   kOffsetSecondConfirmLength)) {
      match.exact = match.partial;
      break;
    }
  }
  return match.Report(variant_flag);
}

// Where the first instruction of a COM file, held in `start`, passes control to.
uint32_t ComEntry(std::span<const uint8_t> start) {
  switch (start[0]) {
    case kJumpShort:
      return uint32_t{start[1]} + 2;
    case kJumpNear:
    case kCallNear:
      // The processor's IP wraps within the segment, and so does the target.
      return static_cast<uint16_t>(ReadU16(start, 1) + 3);
    default:
      return 0;
  }
}

}  // namespace

uint32_t ScanTailParagraphSignatures(const DatabaseImage& signatures, File& file,
                                     uint16_t* variant_flag, uint16_t directory_offset,
                                     DetectorState& /*state*/) {
  return ScanTail(signatures, file, variant_flag, directory_offset, TailRounding::kParagraph);
}

uint32_t ScanTailSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                            uint16_t directory_offset, DetectorState& /*state*/) {
  return ScanTail(signatures, file, variant_flag, directory_offset, TailRounding::kNone);
}

uint32_t ScanComEntrySignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                                uint16_t directory_offset, DetectorState& state) {
  if (ReadAt(file, 0, state.header_buffer.data(), kStartReadSize) == 0) return 0;
  const uint32_t entry = ComEntry(state.header_buffer);
  if (ReadAt(file, entry, state.entry_code_buffer.data(), kEntryCodeSize) == 0) return 0;

  std::span<const uint8_t> code(state.entry_code_buffer);
  uint8_t* scratch = state.entry_code_buffer.data() + kScratchOffset;
  DetectorMatch match;
  const RecordIndex* index =
      FindSectionIndex(signatures, directory_offset, RecordTest::kEntryBytes);
  for (CandidateWalk walk(signatures, directory_offset, kEntrySignatureRecordSize, index, code);
       !walk.AtEnd(); walk.Next()) {
    std::span<const uint8_t> record = walk.Record();
    if (!BytesEqual(code, record[kEntryCodeOffsetField], record.data() + kEntryBytesField,
                    kEntryBytesLength)) {
      continue;
    }
    match.partial = ReadU16(record, kEntryIdField);
    int64_t confirm_at = int64_t{entry} + record[kEntryConfirmOffsetField];
    if (ReadAt(file, confirm_at, scratch, kEntryConfirmLength) == 0) continue;
    if (BytesEqual(code, kScratchOffset, record.data() + kEntryConfirmField, kEntryConfirmLength)) {
      match.exact = match.partial;
      break;
    }
  }
  state.entry_position = entry;
  return match.Report(variant_flag);
}

uint32_t ScanFileEndSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                               uint16_t directory_offset, DetectorState& state) {
  std::optional<uint32_t> size = Size32(file);
  if (!size) return 0;
  std::array<uint8_t, kDetectorBufferSize> tail{};
  if (ReadAt(file, FromEnd(*size, kTailSize), tail.data(), kTailSize) == 0) return 0;

  std::span<const uint8_t> code(state.entry_code_buffer);
  uint8_t* scratch = state.entry_code_buffer.data() + kScratchOffset;
  DetectorMatch match;
  const RecordIndex* index = FindSectionIndex(signatures, directory_offset, RecordTest::kFileEnd);
  for (CandidateWalk walk(signatures, directory_offset, kEndSignatureRecordSize, index, tail);
       !walk.AtEnd(); walk.Next()) {
    std::span<const uint8_t> record = walk.Record();
    const uint8_t first_length = record[kEndFirstLengthField];
    if (first_length == 0 || first_length > kEndFirstMaxLength) continue;
    if (!BytesEqual(tail, record[kEndTailOffsetField], record.data() + kEndFirstPatternField,
                    first_length)) {
      continue;
    }
    match.partial = ReadU16(record, kEndIdField);
    const uint8_t second_length = record[kEndSecondLengthField];
    if (second_length == 0 || second_length > kEndSecondMaxLength) continue;
    uint32_t second_at = FromEnd(*size, ReadU16(record, kEndDistanceField));
    if (ReadAt(file, second_at, scratch, second_length) == 0) continue;
    if (BytesEqual(code, kScratchOffset, record.data() + kEndSecondPatternField, second_length)) {
      match.exact = match.partial;
      break;
    }
  }
  return match.Report(variant_flag);
}

}  // namespace quarn
