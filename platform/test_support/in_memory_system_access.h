#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
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

  // A drive with sectors, all reading as zeros until put, and no faults; a drive added again
  // starts afresh.
  void AddDrive(uint8_t drive);
  void PutSector(uint16_t cylinder_sector, uint16_t head_drive,
                 std::span<const uint8_t, kSectorSize> bytes);
  // The stored sector at cylinder, head and sector (from 1) of `drive`, made (zeros) when
  // there is none yet, to fill or to look at.
  std::array<uint8_t, kSectorSize>& SectorAt(uint8_t drive, uint8_t cylinder, uint8_t head,
                                             uint8_t sector);
  // The stored sector, or nothing when none was put or written there.
  std::optional<std::array<uint8_t, kSectorSize>> Sector(uint16_t cylinder_sector,
                                                         uint16_t head_drive) const;

  // The drive behaves like a mapping that cannot be opened: reads give false and leave the
  // buffer untouched, writes give kCannotOpen.
  void FailOpen(uint8_t drive) { unopenable_drives_.insert(drive); }
  // Writes to the drive store nothing and give `result` (kRefused: write-protected).
  void ForceWriteResult(uint8_t drive, SectorWriteResult result) {
    forced_write_results_[drive] = result;
  }

  // "read 0001 0180", "write 0001 0000": every sector call with its two words, in order.
  std::vector<std::string> calls;

  const std::vector<MemoryRead>& memory_reads() const { return memory_reads_; }
  const std::vector<SectorWrite>& sector_writes() const { return sector_writes_; }
  int sector_reads() const { return sector_reads_; }

  bool HasSectors(uint8_t drive) override;
  bool CallReadPhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                               std::span<uint8_t, kSectorSize> sector) override;
  SectorWriteResult CallWritePhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                                             std::span<const uint8_t, kSectorSize> sector) override;
  void CopyMemDos(uint16_t segment, uint16_t offset, std::span<uint8_t> destination) override;
  // Answers only after TellZeroMemory(true); until then it cannot tell, like a platform
  // without the query, so the memory reads a test counts are all made.
  bool DosMemoryIsZero(uint16_t segment, uint16_t offset, size_t length) override;
  void TellZeroMemory(bool tell) { tells_zero_memory_ = tell; }
  int zero_memory_queries() const { return zero_memory_queries_; }

 private:
  static uint32_t SectorKey(uint16_t cylinder_sector, uint16_t head_drive) {
    return (static_cast<uint32_t>(head_drive) << 16) | cylinder_sector;
  }

  std::vector<uint8_t> memory_;
  std::set<uint8_t> drives_;
  std::set<uint8_t> unopenable_drives_;
  std::map<uint8_t, SectorWriteResult> forced_write_results_;
  std::map<uint32_t, std::array<uint8_t, kSectorSize>> sectors_;
  std::vector<MemoryRead> memory_reads_;
  std::vector<SectorWrite> sector_writes_;
  int sector_reads_ = 0;
  bool tells_zero_memory_ = false;
  int zero_memory_queries_ = 0;
};

}  // namespace quarn
