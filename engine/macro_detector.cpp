#include "engine/macro_detector.h"

#include <array>

#include "engine/candidate_walk.h"
#include "engine/compound_file.h"
#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "engine/signature_index.h"
#include "engine/signature_records.h"
#include "engine/word_command_table.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

constexpr uint32_t kFibCommandTableField = 0x118;
constexpr uint8_t kFibWordIds[] = {0xDC, 0x99};
constexpr uint8_t kCommandTableMark = 0xFF;
constexpr uint32_t kTableWindowSize = 1024;
constexpr uint32_t kBlockHeaderSize = 3;  // type, then a 16-bit count
constexpr uint8_t kMacroBlock = 1;
constexpr uint32_t kMacroEntrySize = 24;
constexpr uint8_t kMacroEntryMark = 0x55;
constexpr uint32_t kMacroTextOffsetField = 0x14;
constexpr uint32_t kMacroTextWindowSize = 512;

// MacroSignatureRecord fields.
constexpr int kMacroIdField = 0;
constexpr int kMacroFirstOffsetField = 2;
constexpr int kMacroFirstPatternField = 4;
constexpr uint32_t kMacroFirstPatternLength = 8;
constexpr int kMacroSecondOffsetField = 12;
constexpr int kMacroSecondPatternField = 14;
constexpr uint32_t kMacroSecondPatternLength = 4;

// Compares one macro text window with every record of the section.
void MatchMacroText(const DatabaseImage& signatures, uint16_t directory_offset,
                    std::span<const uint8_t> window, DetectorMatch* match) {
  const RecordIndex* index = FindSectionIndex(signatures, directory_offset, RecordTest::kMacroText);
  for (CandidateWalk walk(signatures, directory_offset, kMacroSignatureRecordSize, index, window);
       !walk.AtEnd(); walk.Next()) {
    std::span<const uint8_t> record = walk.Record();
    if (!BytesEqual(window, ReadU16(record, kMacroFirstOffsetField),
                    record.data() + kMacroFirstPatternField, kMacroFirstPatternLength)) {
      continue;
    }
    match->partial = ReadU16(record, kMacroIdField);
    if (BytesEqual(window, ReadU16(record, kMacroSecondOffsetField),
                   record.data() + kMacroSecondPatternField, kMacroSecondPatternLength)) {
      match->exact = match->partial;
      return;
    }
  }
}

// Reads the 512 stored bytes of a macro text; false when the first piece reads nothing or the
// text cannot be located.
bool ReadMacroText(CompoundFile& compound, uint32_t stream_start, uint32_t text_offset,
                   std::array<uint8_t, kMacroTextWindowSize>* window) {
  auto position = compound.Locate(stream_start, text_offset);
  if (!position) return false;
  uint32_t first = kCompoundSectorSize - position->offset_in_sector;
  if (ReadAt(compound.file(), SectorOffset(position->sector) + position->offset_in_sector,
             window->data(), first) == 0) {
    return false;
  }
  ReadAt(compound.file(), SectorOffset(position->successor), window->data() + first,
         position->offset_in_sector);
  return true;
}

// Examines the macros of the command table; fills `match` as it goes.
void ScanMacros(const DatabaseImage& signatures, uint16_t directory_offset, CompoundFile& compound,
                uint32_t stream_start, DetectorMatch* match) {
  std::array<uint8_t, kCompoundSectorSize> fib{};
  if (ReadAt(compound.file(), SectorOffset(stream_start), fib.data(), kCompoundSectorSize) == 0) {
    return;
  }
  if (fib[0] != kFibWordIds[0] && fib[0] != kFibWordIds[1]) return;

  auto table = compound.Locate(stream_start, ReadU32(fib, kFibCommandTableField));
  if (!table) return;
  uint64_t table_at = SectorOffset(table->sector) + table->offset_in_sector;
  uint8_t mark[5] = {};
  if (ReadAt(compound.file(), table_at, mark, sizeof mark) == 0 || mark[0] != kCommandTableMark) {
    return;
  }
  std::array<uint8_t, kTableWindowSize> window{};
  uint32_t first = kCompoundSectorSize - table->offset_in_sector;
  if (ReadAt(compound.file(), table_at, window.data(), first) == 0) return;
  ReadAt(compound.file(), SectorOffset(table->successor), window.data() + first,
         table->offset_in_sector + kCompoundSectorSize);

  std::span<const uint8_t> bytes(window);
  uint32_t block = 1;
  while (Fits(bytes, block, kBlockHeaderSize)) {
    uint8_t type = window[block];
    uint32_t count = ReadU16(bytes, block + 1);
    if (type == kMacroBlock) {
      if (count == 0) return;
      std::array<uint8_t, kMacroTextWindowSize> text{};
      for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = block + kBlockHeaderSize + i * kMacroEntrySize;
        if (!Fits(bytes, entry, kMacroEntrySize)) return;
        if (window[entry] != kMacroEntryMark) continue;
        if (!ReadMacroText(compound, stream_start, ReadU32(bytes, entry + kMacroTextOffsetField),
                           &text)) {
          return;
        }
        MatchMacroText(signatures, directory_offset, text, match);
        if (match->exact != 0) return;
      }
      return;
    }
    uint32_t entry_size = CommandTableEntrySize(type);
    if (entry_size == 0) return;
    block += kBlockHeaderSize + entry_size * count;
  }
}

}  // namespace

uint32_t DetectWordMacroVirus(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                              uint16_t directory_offset, DetectorState& /*state*/) {
  CompoundFile compound(file);
  if (!compound.ReadHeader()) return 0;
  std::optional<uint32_t> stream_start = compound.FindWordDocument();
  if (!stream_start) return 0;
  DetectorMatch match;
  ScanMacros(signatures, directory_offset, compound, *stream_start, &match);
  return match.Report(variant_flag);
}

}  // namespace quarn
