#include "clean/appended_body.h"

#include <limits>

#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

constexpr uint32_t kPageSize = 512;
constexpr uint32_t kSavedWordSize = 2;

}  // namespace

std::optional<AppendedBody> LocateAppendedBody(const CleaningContext& context, File& file,
                                               std::span<const uint8_t> record) {
  std::optional<uint64_t> size = file.Size();
  // The header's length arithmetic is 32-bit: a larger file would be cut in the wrong place.
  if (!size || *size > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  const uint16_t virus_length = ReadU16(record, kVirusLengthField);
  const uint16_t entry_distance = ReadU16(record, kEntryDistanceField);
  if (virus_length > *size || entry_distance > context.entry_offset) return std::nullopt;

  AppendedBody body;
  body.file_size = *size;
  body.virus_start = context.entry_offset - entry_distance;
  body.new_length = static_cast<uint32_t>(*size - virus_length);
  for (const SavedHeaderWord& word : kSavedHeaderWords) {
    const uint16_t offset = ReadU16(record, word.record_field);
    if (offset != kLeaveHeaderWord && !BodyBytesInFile(body, offset, kSavedWordSize)) {
      return std::nullopt;
    }
  }
  return body;
}

bool BodyBytesInFile(const AppendedBody& body, uint64_t offset, uint64_t length) {
  // virus_start < 2^32 and offset, length are small: the sum cannot overflow.
  return body.virus_start + offset + length <= body.file_size;
}

DosHeaderCopy ReadDosHeaderCopy(File& file) {
  DosHeaderCopy header{};
  ReadAt(file, 0, header.data(), kDosHeaderCopySize);
  return header;
}

void RestoreHeaderWords(File& file, std::span<const uint8_t> record, DosHeaderCopy& header,
                        uint64_t virus_start) {
  for (const SavedHeaderWord& word : kSavedHeaderWords) {
    const uint16_t offset = ReadU16(record, word.record_field);
    if (offset == kLeaveHeaderWord) continue;
    ReadAt(file, static_cast<int64_t>(virus_start + offset), header.data() + word.header_field,
           kSavedWordSize);
  }
}

void SetHeaderLengthFields(DosHeaderCopy& header, uint32_t new_length) {
  const uint32_t remainder = new_length % kPageSize;
  const uint32_t pages = new_length / kPageSize + (remainder != 0 ? 1 : 0);
  WriteU16(header.data() + kLastPageBytesField,
           static_cast<uint16_t>(remainder == 0 ? kPageSize : remainder));
  WriteU16(header.data() + kPageCountField, static_cast<uint16_t>(pages));
}

uint32_t CutAppendedBody(const CleaningContext& context, File& file, const DosHeaderCopy& header,
                         const AppendedBody& body) {
  static constexpr std::array<uint8_t, kWipeBlockSize> kWipeBlock{};
  if (!WriteAt(file, 0, header.data(), kDosHeaderWriteSize)) {
    ReportWriteFailure(context);
    return 0;
  }
  // The zeros go over the start of the virus body first, so that no part of it is left on
  // the disk's free space even where the cut only moves the file's end. They may run past
  // the end for a moment; the cut below takes the file back to the host's length.
  if (!WriteAt(file, body.new_length, kWipeBlock.data(), kWipeBlockSize)) {
    ReportWriteFailure(context);
    return 0;
  }
  if (!file.Seek(body.new_length, SeekOrigin::kBegin) || !file.SetEndOfFile()) return 0;
  return 1;
}

}  // namespace quarn
