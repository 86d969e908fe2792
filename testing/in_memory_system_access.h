#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "platform/system_access.h"

namespace quarn {

// SystemAccess over memory, for tests and fuzz targets: low DOS memory is one byte vector
// from linear address 0, sectors live in a map per BIOS drive, and every call is recorded so
// a test can tell what was read and written. Faults are injected per drive.
class InMemorySystemAccess : public SystemAccess {
 public:
  struct MemoryRead {
    uint16_t segment;
    uint16_t offset;
    size_t length;
  };
  struct SectorWrite {
    uint16_t cylinder_sector;
    uint16_t head_drive;
    std::array<uint8_t, kSectorSize> bytes;
  };

  // Low memory. Bytes never put read as zeros; the vector grows to hold what is put.
  void PutMemory(uint32_t linear_address, std::span<const uint8_t> bytes);

  // A drive with sectors; its sectors read as zeros until put.
  void AddDrive(uint8_t drive);
  void PutSector(uint16_t cylinder_sector, uint16_t head_drive,
                 std::span<const uint8_t, kSectorSize> bytes);
  // The stored sector, or nothing when none was put or written there.
  std::optional<std::array<uint8_t, kSectorSize>> Sector(uint16_t cylinder_sector,
                                                         uint16_t head_drive) const;

  // Reads of the drive behave like a mapping that cannot be opened: false, buffer untouched.
  void FailReads(uint8_t drive) { unreadable_drives_.insert(drive); }
  // Writes to the drive store nothing and return `result` (0: write-protected).
  void ForceWriteResult(uint8_t drive, int result) { forced_write_results_[drive] = result; }

  const std::vector<MemoryRead>& memory_reads() const { return memory_reads_; }
  const std::vector<SectorWrite>& sector_writes() const { return sector_writes_; }
  int sector_reads() const { return sector_reads_; }

  bool HasSectors(uint8_t drive) override;
  bool CallReadPhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                               std::span<uint8_t, kSectorSize> sector) override;
  int CallWritePhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                               std::span<const uint8_t, kSectorSize> sector) override;
  void CopyMemDos(uint16_t segment, uint16_t offset, std::span<uint8_t> destination) override;

 private:
  static uint32_t SectorKey(uint16_t cylinder_sector, uint16_t head_drive) {
    return (static_cast<uint32_t>(head_drive) << 16) | cylinder_sector;
  }

  std::vector<uint8_t> memory_;
  std::set<uint8_t> drives_;
  std::set<uint8_t> unreadable_drives_;
  std::map<uint8_t, int> forced_write_results_;
  std::map<uint32_t, std::array<uint8_t, kSectorSize>> sectors_;
  std::vector<MemoryRead> memory_reads_;
  std::vector<SectorWrite> sector_writes_;
  int sector_reads_ = 0;
};

}  // namespace quarn
