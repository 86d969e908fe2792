#pragma once

#include <cstdint>

namespace quarn {

// The directory of the signature image: 9-byte descriptors from image offset 2. A section is
// named by its directory offset, 2 + 9 × index.
inline constexpr uint16_t kDirectoryStart = 2;
inline constexpr uint16_t kDescriptorSize = 9;
inline constexpr int kSectionCount = 35;

// Descriptor field offsets.
inline constexpr int kDescriptorOffsetField = 0;  // u32 image offset of the first record
inline constexpr int kDescriptorCountField = 4;   // u16 record count
inline constexpr int kDescriptorSpareField = 6;   // u16, not read
inline constexpr int kDescriptorSizeField = 8;    // u8 record size

constexpr uint16_t DirectoryOffset(int section_index) {
  return static_cast<uint16_t>(kDirectoryStart + kDescriptorSize * section_index);
}

// Section indices with a reader in the program.
enum SectionIndex : int {
  kExeEntrySection = 0,
  kExeCallSection = 1,
  kExeForwardSection = 2,
  kExeBackwardSection = 3,
  kExePatternSection = 4,
  kDecryptorSection = 5,
  kComTailParagraphSection = 6,
  kComTailSection = 7,
  kComEntrySection = 8,
  kComCallSection = 9,
  kComForwardSection = 10,
  kComBackwardSection = 11,
  kComEndSection = 12,
  kComPatternSection = 13,
  kBootPatternSection = 14,
  kMbrPatternSection = 15,
  kMbrSubsequenceSection = 16,
  kExeCleanSection = 20,
  kEncryptedExeCleanSection = 21,
  kComCleanSection = 23,
  kPrependCleanSection = 24,
  kEncryptedComCleanSection = 25,
  kMacroCleanSection = 26,
  kMacroSection = 27,
  kMemoryPatternSection = 28,
  kBootRemovalSection = 29,
  kMemoryNameSection = 30,
  kPeEntrySection = 32,
  kPeCleanSection = 33,
  kVersionSection = 34,
};

// The record size by which the reader of a section steps, or 0 for a section whose records
// no reader walks (5, 17, 18, 19, 22, 31, and 34, which is read as one block).
uint8_t ReaderRecordSize(int section_index);

// Record sizes of the record layouts.
inline constexpr uint8_t kEntrySignatureRecordSize = 16;
inline constexpr uint8_t kOffsetSignatureRecordSize = 16;
inline constexpr uint8_t kPatternRecordSize = 20;
inline constexpr uint8_t kEndSignatureRecordSize = 19;
inline constexpr uint8_t kBootPatternRecordSize = 19;
inline constexpr uint8_t kMbrPatternRecordSize = 18;
inline constexpr uint8_t kSubsequenceRecordSize = 16;
inline constexpr uint8_t kExeCleanRecordSize = 14;
inline constexpr uint8_t kEncryptedExeCleanRecordSize = 24;
inline constexpr uint8_t kComCleanRecordSize = 12;
inline constexpr uint8_t kPrependCleanRecordSize = 4;
inline constexpr uint8_t kEncryptedComCleanRecordSize = 24;
inline constexpr uint8_t kMacroCleanRecordSize = 2;
inline constexpr uint8_t kMacroSignatureRecordSize = 18;
inline constexpr uint8_t kMemoryPatternRecordSize = 20;
inline constexpr uint8_t kBootRemovalRecordSize = 7;
inline constexpr uint8_t kMemoryNameRecordSize = 30;
inline constexpr uint8_t kPeCleanRecordSize = 14;

// The version section: byte 3 version, byte 4 month, bytes 5–6 year.
inline constexpr int kVersionField = 3;
inline constexpr int kVersionMonthField = 4;
inline constexpr int kVersionYearField = 5;
inline constexpr uint8_t kVersionSectionSize = 7;

// The name image: 11 bytes not read, then one 30-byte record per VirusId from 1 on, whose
// name field is bytes 2–29.
inline constexpr uint32_t kNameTableStart = 11;
inline constexpr uint32_t kNameRecordSize = 30;
inline constexpr uint32_t kNameFieldOffset = 2;
inline constexpr uint32_t kNameFieldLength = 28;

// VirusIds that detectors return without a record; every shipped name table names them.
inline constexpr uint32_t kFixedVirusIds[] = {90,  101, 220, 332, 333, 334, 335,
                                              368, 727, 728, 729, 846, 847};

}  // namespace quarn
