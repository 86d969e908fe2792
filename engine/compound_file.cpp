#include "engine/compound_file.h"

#include <cstring>

#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// "WordDocument" in UTF-16LE without its final zero byte: 23 bytes.
constexpr uint8_t kWordDocumentName[] = {'W', 0, 'o', 0, 'r', 0, 'd', 0, 'D', 0, 'o', 0,
                                         'c', 0, 'u', 0, 'm', 0, 'e', 0, 'n', 0, 't'};

}  // namespace

bool CompoundFile::ReadHeader() {
  header_.fill(0);
  loaded_fat_.reset();
  if (ReadAt(file_, 0, header_.data(), kCompoundSectorSize) == 0) return false;
  sectors_in_file_ = file_.Size().value_or(0) / kCompoundSectorSize + 1;
  return header_[0] == 0xD0 && header_[1] == 0xCF;
}

uint32_t CompoundFile::FirstDirectorySector() const {
  return ReadU32(header_, kHeaderFirstDirectorySectorField);
}

std::optional<uint32_t> CompoundFile::FindWordDocument() {
  std::array<uint8_t, kCompoundSectorSize> directory{};
  if (ReadAt(file_, SectorOffset(FirstDirectorySector()), directory.data(), kCompoundSectorSize) ==
      0) {
    return std::nullopt;
  }
  for (uint32_t i = 0; i < kDirectoryEntriesRead; ++i) {
    const uint8_t* entry = directory.data() + i * kDirectoryEntrySize;
    if (std::memcmp(entry, kWordDocumentName, sizeof kWordDocumentName) == 0) {
      return ReadU32(directory, i * kDirectoryEntrySize + kDirectoryStartSectorField);
    }
  }
  return std::nullopt;
}

bool CompoundFile::LoadFatSector(uint32_t index) {
  if (loaded_fat_ == index) return true;
  if (index >= kHeaderFatSectorCount) return false;
  uint32_t sector = ReadU32(header_, kHeaderFatListField + 4 * index);
  fat_.fill(0);
  loaded_fat_.reset();
  if (ReadAt(file_, SectorOffset(sector), fat_.data(), kCompoundSectorSize) == 0) return false;
  loaded_fat_ = index;
  return true;
}

uint32_t CompoundFile::FatEntry(uint32_t sector) const {
  return ReadU32(fat_, 4 * (sector % kFatEntriesPerSector));
}

std::optional<StreamPosition> CompoundFile::Locate(uint32_t first_sector, uint32_t offset) {
  uint32_t steps = offset / kCompoundSectorSize;
  if (steps > sectors_in_file_) return std::nullopt;
  if (!LoadFatSector(first_sector / kFatEntriesPerSector)) return std::nullopt;
  uint32_t current = first_sector;
  for (uint32_t i = 0; i < steps; ++i) {
    uint32_t next = FatEntry(current);
    if (!LoadFatSector(next / kFatEntriesPerSector)) return std::nullopt;
    current = next;
  }
  return StreamPosition{current, FatEntry(current), offset % kCompoundSectorSize};
}

std::optional<uint32_t> CompoundFile::NextSector(uint32_t sector) {
  if (!LoadFatSector(sector / kFatEntriesPerSector)) return std::nullopt;
  return FatEntry(sector);
}

}  // namespace quarn
