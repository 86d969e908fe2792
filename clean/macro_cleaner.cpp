#include "clean/macro_cleaner.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "clean/macro_filler.h"
#include "engine/compound_file.h"
#include "engine/word_command_table.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// The FIB, the stream's first sector.
constexpr uint8_t kFibWordIds[] = {0xDC, 0x99};
constexpr uint32_t kFibDocumentWordField = 10;
constexpr uint32_t kFibCommandTableField = 0x118;

// The command table.
constexpr uint8_t kCommandTableMark = 0xFF;
constexpr uint32_t kMarkReadSize = 5;
constexpr uint32_t kTableBufferSize = 2 * kCompoundSectorSize;
constexpr uint32_t kGroupHeaderSize = 3;  // type, then a u16 count
constexpr uint8_t kMacroGroup = 1;
// The macro group must start within this many bytes of the table, and its entries are
// taken only as far as that reach.
constexpr uint32_t kMacroGroupReach = 512;

// Macro entries.
constexpr uint32_t kMacroEntrySize = 24;
constexpr uint8_t kMacroEntryMark = 0x55;
constexpr uint32_t kMacroKeyField = 1;
constexpr uint32_t kMacroLengthField = 12;
constexpr uint32_t kMacroTextOffsetField = 20;

// Every sector a chain can step from is described by one of the header's allocation-table
// sectors, so a bitmap this size tells whether a chain came back to a sector.
constexpr uint32_t kDescribableSectors = kHeaderFatSectorCount * kFatEntriesPerSector;

using Sector = std::array<uint8_t, kCompoundSectorSize>;
using TableBuffer = std::array<uint8_t, kTableBufferSize>;

bool IsWordFib(const Sector& fib) {
  return fib[0] == kFibWordIds[0] || fib[0] == kFibWordIds[1];
}

// Walks one chain of the stream a sector at a time. A step fails where the chain ends,
// leaves the file, needs an allocation-table sector the header does not list, or comes back
// to a sector already visited: a hostile table that loops would otherwise have the filler
// written over the same sectors again and again.
class ChainCursor {
 public:
  ChainCursor(CompoundFile& compound, uint64_t file_size, uint32_t first_sector)
      : compound_(compound), file_size_(file_size), sector_(first_sector) {
    Visit(first_sector);
  }

  bool Step() {
    std::optional<uint32_t> next = compound_.NextSector(sector_);
    // End-of-chain marks lie far past any file this reads, so one test refuses both.
    if (!next || SectorOffset(*next) >= file_size_ || !Visit(*next)) return false;
    sector_ = *next;
    return true;
  }

  // Stops at the first refused step, so a huge count costs no more than the chain's length.
  bool Advance(uint32_t steps) {
    for (uint32_t i = 0; i < steps; ++i) {
      if (!Step()) return false;
    }
    return true;
  }

  uint32_t sector() const { return sector_; }

 private:
  // False when `sector` was visited before.
  bool Visit(uint32_t sector) {
    // Such a sector cannot be stepped from, so the chain ends there without coming back.
    if (sector >= kDescribableSectors) return true;
    uint8_t bit = static_cast<uint8_t>(1u << (sector % 8));
    if (visited_[sector / 8] & bit) return false;
    visited_[sector / 8] |= bit;
    return true;
  }

  CompoundFile& compound_;
  uint64_t file_size_;
  uint32_t sector_;
  std::array<uint8_t, kDescribableSectors / 8> visited_{};
};

// Reads the command table at stream offset `table_offset`: the rest of its sector, then the
// whole next sector of the chain (which may read nothing when the table's sector is the
// stream's last). False when the table is not there or does not start with its mark.
bool ReadCommandTable(CompoundFile& compound, uint64_t file_size, uint32_t stream_start,
                      uint32_t table_offset, TableBuffer* table) {
  // The first sector is the FIB itself; a table there is outside what this reader models.
  if (table_offset < kCompoundSectorSize) return false;
  ChainCursor cursor(compound, file_size, stream_start);
  if (!cursor.Advance(table_offset / kCompoundSectorSize)) return false;
  std::optional<uint32_t> successor = compound.NextSector(cursor.sector());
  if (!successor) return false;

  const uint32_t in_sector = table_offset % kCompoundSectorSize;
  const uint64_t table_at = SectorOffset(cursor.sector()) + in_sector;
  uint8_t mark[kMarkReadSize] = {};
  ReadAt(compound.file(), static_cast<int64_t>(table_at), mark, sizeof mark);
  if (mark[0] != kCommandTableMark) return false;

  table->fill(0);
  const uint32_t first = kCompoundSectorSize - in_sector;
  if (ReadAt(compound.file(), static_cast<int64_t>(table_at), table->data(), first) == 0) {
    return false;
  }
  ReadAt(compound.file(), static_cast<int64_t>(SectorOffset(*successor)), table->data() + first,
         in_sector + kCompoundSectorSize);
  return true;
}

// The buffer offset of the macro group's type byte, walking the groups from the byte after
// the mark; nothing when the walk meets another type or a group runs past the buffer.
std::optional<uint32_t> FindMacroGroup(std::span<const uint8_t> table) {
  uint64_t group = 1;
  while (Fits(table, group, kGroupHeaderSize)) {
    const uint8_t type = table[group];
    if (type == kMacroGroup) return static_cast<uint32_t>(group);
    const uint32_t entry_size = CommandTableEntrySize(type);
    if (entry_size == 0) return std::nullopt;
    group += kGroupHeaderSize + uint64_t{entry_size} * ReadU16(table, group + 1);
  }
  return std::nullopt;
}

// Writes one piece of filler. A piece of no bytes (nothing left before the end of the file)
// fails quietly; a write that stores fewer bytes than asked shows the message.
bool WritePiece(const CleaningContext& context, File& file, uint64_t position,
                const MacroFiller& filler, uint32_t length) {
  if (length == 0) return false;
  if (!WriteAt(file, position, filler.data(), length)) {
    ReportWriteFailure(context);
    return false;
  }
  return true;
}

// Overwrites `length` bytes of stream text from stream offset `text_offset`, restarting the
// filler at every sector the text reaches. Pieces stop at the end of the file.
bool OverwriteMacroText(const CleaningContext& context, CompoundFile& compound, uint64_t file_size,
                        uint32_t stream_start, uint32_t text_offset, uint32_t length,
                        const MacroFiller& filler) {
  if (text_offset < kCompoundSectorSize) return false;
  ChainCursor cursor(compound, file_size, stream_start);
  if (!cursor.Advance(text_offset / kCompoundSectorSize)) return false;
  uint32_t in_sector = text_offset % kCompoundSectorSize;
  uint32_t remaining = length;
  for (;;) {
    const uint64_t position = SectorOffset(cursor.sector()) + in_sector;
    const uint64_t room = position < file_size ? file_size - position : 0;
    const uint32_t piece = static_cast<uint32_t>(
        std::min<uint64_t>({remaining, kCompoundSectorSize - in_sector, room}));
    if (!WritePiece(context, compound.file(), position, filler, piece)) return false;
    remaining -= piece;
    if (remaining == 0) return true;
    if (!cursor.Step()) return false;
    in_sector = 0;
  }
}

// Overwrites the text of every entry of the macro group at `group` in `table`.
bool OverwriteMacros(const CleaningContext& context, CompoundFile& compound, uint64_t file_size,
                     uint32_t stream_start, std::span<const uint8_t> table, uint32_t group) {
  // Counted from the table's mark, where the group walk starts one byte later.
  const uint32_t depth = group - 1;
  if (depth > kMacroGroupReach) return false;
  const uint32_t count =
      std::min<uint32_t>(ReadU16(table, group + 1), (kMacroGroupReach - depth) / kMacroEntrySize);
  if (count == 0) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t entry = group + kGroupHeaderSize + i * kMacroEntrySize;
    if (ReadU8(table, entry) != kMacroEntryMark) return false;
    const MacroFiller filler = BuildMacroFiller(ReadU8(table, entry + kMacroKeyField));
    if (!OverwriteMacroText(context, compound, file_size, stream_start,
                            ReadU32(table, entry + kMacroTextOffsetField),
                            ReadU16(table, entry + kMacroLengthField), filler)) {
      return false;
    }
  }
  return true;
}

// Reads the first sector again, decrements its word at offset 10 unless 0 and writes it
// back, no further than the file reaches.
bool RewriteFirstSector(const CleaningContext& context, File& file, uint32_t stream_start) {
  Sector fib{};
  const uint64_t fib_at = SectorOffset(stream_start);
  const uint32_t read = ReadAt(file, static_cast<int64_t>(fib_at), fib.data(), fib.size());
  if (!IsWordFib(fib)) return false;
  const uint16_t word = ReadU16(fib, kFibDocumentWordField);
  if (word != 0) WriteU16(fib.data() + kFibDocumentWordField, static_cast<uint16_t>(word - 1));
  // A sector that reads short is written back short: the file never grows.
  if (!WriteAt(file, fib_at, fib.data(), read)) {
    ReportWriteFailure(context);
    return false;
  }
  return true;
}

}  // namespace

uint32_t CleanWordMacros(const CleaningContext& context, const CleanRecord& /*record*/,
                         File& copy) {
  const std::optional<uint64_t> file_size = copy.Size();
  if (!file_size) return 0;
  CompoundFile compound(copy);
  if (!compound.ReadHeader()) return 0;
  const std::optional<uint32_t> stream_start = compound.FindWordDocument();
  if (!stream_start) return 0;

  Sector fib{};
  if (ReadAt(copy, static_cast<int64_t>(SectorOffset(*stream_start)), fib.data(), fib.size()) ==
          0 ||
      !IsWordFib(fib)) {
    return 0;
  }
  TableBuffer table;
  if (!ReadCommandTable(compound, *file_size, *stream_start, ReadU32(fib, kFibCommandTableField),
                        &table)) {
    return 0;
  }
  const std::optional<uint32_t> group = FindMacroGroup(table);
  if (!group) return 0;
  if (!OverwriteMacros(context, compound, *file_size, *stream_start, table, *group)) return 0;
  return RewriteFirstSector(context, copy, *stream_start) ? 1 : 0;
}

}  // namespace quarn
