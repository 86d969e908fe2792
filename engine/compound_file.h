#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/file.h"

namespace quarn {

// The engine's own minimal reader of OLE2 compound files, shared by macro detection and
// macro cleaning. Sectors are taken as 512 bytes whatever the header says; sector s lies at
// file offset (s + 1) × 512. Only the header's list of 109 allocation-table sectors is used.
inline constexpr uint32_t kCompoundSectorSize = 512;
inline constexpr uint32_t kFatEntriesPerSector = 128;
inline constexpr uint32_t kHeaderFatSectorCount = 109;
inline constexpr uint32_t kHeaderFirstDirectorySectorField = 0x30;
inline constexpr uint32_t kHeaderFatListField = 0x4C;
inline constexpr uint32_t kDirectoryEntrySize = 128;
inline constexpr uint32_t kDirectoryEntriesRead = 4;
inline constexpr uint32_t kDirectoryStartSectorField = 0x74;

inline constexpr uint64_t SectorOffset(uint32_t sector) {
  return (static_cast<uint64_t>(sector) + 1) * kCompoundSectorSize;
}

// Where a stream offset lies: the sector that holds it, that sector's successor in the
// allocation table, and the offset within the sector.
struct StreamPosition {
  uint32_t sector = 0;
  uint32_t successor = 0;
  uint32_t offset_in_sector = 0;
};

class CompoundFile {
 public:
  explicit CompoundFile(File& file) : file_(file) {}

  // Reads the 512-byte header. False when nothing is read or the file does not start D0 CF.
  bool ReadHeader();

  uint32_t FirstDirectorySector() const;

  // The starting sector of the "WordDocument" stream, looked for among the four entries of
  // the first directory sector; nothing when that sector cannot be read or holds no such
  // entry.
  std::optional<uint32_t> FindWordDocument();

  // Follows the allocation-table chain from `first_sector` to stream offset `offset`.
  // Nothing when an allocation-table sector would need an entry beyond the header's 109, or
  // cannot be read, or when the chain would take more steps than the file has sectors (a
  // chain that long must loop).
  std::optional<StreamPosition> Locate(uint32_t first_sector, uint32_t offset);

  // The sector that follows `sector` in its chain, as the allocation-table sector describing
  // it says (loaded when another one is loaded). Nothing when that allocation-table sector
  // would need an entry beyond the header's 109 or cannot be read. The value is returned as
  // stored: end-of-chain marks and sectors past the end of the file are the caller's to
  // refuse.
  std::optional<uint32_t> NextSector(uint32_t sector);

  File& file() { return file_; }

 private:
  bool LoadFatSector(uint32_t index);
  uint32_t FatEntry(uint32_t sector) const;

  File& file_;
  std::array<uint8_t, kCompoundSectorSize> header_{};
  std::array<uint8_t, kCompoundSectorSize> fat_{};
  std::optional<uint32_t> loaded_fat_;
  uint64_t sectors_in_file_ = 0;
};

}  // namespace quarn
