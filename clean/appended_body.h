#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "clean/cleaning_context.h"
#include "platform/file.h"

// The steps both DOS cleaners share: an appending virus sits at the end of the host and
// keeps the host's own CS, IP, SS and SP inside its body; cleaning puts those words back
// into the header, fixes the header's length fields and cuts the body off.
namespace quarn {

// Fields the ExeCleanRecord and the EncryptedExeCleanRecord have in common.
inline constexpr int kSavedCsField = 2;
inline constexpr int kSavedIpField = 4;
inline constexpr int kSavedSsField = 6;
inline constexpr int kSavedSpField = 8;
inline constexpr int kVirusLengthField = 10;
inline constexpr int kEntryDistanceField = 12;
// A saved-word offset that leaves the header word as the infected file has it.
inline constexpr uint16_t kLeaveHeaderWord = 0xFFFF;

// The DOS header as the cleaners keep it: 512 bytes are read, the first 24 written back.
inline constexpr uint32_t kDosHeaderCopySize = 512;
inline constexpr uint32_t kDosHeaderWriteSize = 24;
using DosHeaderCopy = std::array<uint8_t, kDosHeaderCopySize>;
inline constexpr int kLastPageBytesField = 2;
inline constexpr int kPageCountField = 4;
inline constexpr int kInitialSsField = 14;
inline constexpr int kInitialSpField = 16;
inline constexpr int kInitialIpField = 20;
inline constexpr int kInitialCsField = 22;

// One header word a record can restore: where the record keeps its offset in the virus body
// and where the word goes in the header. Records list them in this order.
struct SavedHeaderWord {
  int record_field;
  int header_field;
};
inline constexpr std::array<SavedHeaderWord, 4> kSavedHeaderWords = {{
    {kSavedCsField, kInitialCsField},
    {kSavedIpField, kInitialIpField},
    {kSavedSsField, kInitialSsField},
    {kSavedSpField, kInitialSpField},
}};

// Where the virus lies in the file a record is applied to.
struct AppendedBody {
  uint64_t file_size = 0;
  uint64_t virus_start = 0;  // entry offset − entry distance
  uint32_t new_length = 0;   // file size − virus length: where the host ends
};

// Places the record's virus in `file`, or nothing when the record cannot describe it: the
// size is unknown or does not fit 32 bits, the virus is longer than the file, the entry
// distance reaches before the start of the file, or a saved word the record names lies
// outside the file. Only the size is asked; nothing is read or written.
std::optional<AppendedBody> LocateAppendedBody(const CleaningContext& context, File& file,
                                               std::span<const uint8_t> record);

// True when `length` bytes at virus start + `offset` lie wholly inside the file.
bool BodyBytesInFile(const AppendedBody& body, uint64_t offset, uint64_t length);

// Reads the 512-byte header copy at offset 0; what the file does not hold stays zero.
DosHeaderCopy ReadDosHeaderCopy(File& file);

// For CS, IP, SS and SP in that order, a field whose offset is not kLeaveHeaderWord is read,
// as it is stored, from virus start + offset into its header word. The offsets must have
// been checked by LocateAppendedBody.
void RestoreHeaderWords(File& file, std::span<const uint8_t> record, DosHeaderCopy& header,
                        uint64_t virus_start);

// Stores the bytes of the last 512-byte page (512, not 0, for a whole page) and the page
// count, the last page counted, of a file of `new_length` bytes; both as 16-bit values.
void SetHeaderLengthFields(DosHeaderCopy& header, uint32_t new_length);

// Writes the first 24 header bytes at offset 0, the 4096 zero bytes of the wipe block at
// the new length, and ends the file there, so it is exactly `body.new_length` bytes long.
// A failed write shows the write-failure message and answers 0; a file that cannot be cut
// answers 0 without a message (the caller discards the copy). 1 on success.
uint32_t CutAppendedBody(const CleaningContext& context, File& file, const DosHeaderCopy& header,
                         const AppendedBody& body);

}  // namespace quarn
