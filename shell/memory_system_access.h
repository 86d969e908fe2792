#pragma once

// For tests: BIOS disks held in memory, addressed by cylinder, head and sector with a
// geometry of their own, that record every sector call and can refuse to open or to write.

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/system_access.h"

namespace quarn::testing {

class MemorySystemAccess : public SystemAccess {
 public:
  struct Disk {
    uint32_t cylinders = 0;
    uint8_t heads = 0;
    uint8_t sectors_per_track = 0;
    std::vector<uint8_t> bytes;
    bool opens = true;
    bool write_protected = false;
  };

  // A zero-filled disk for BIOS drive `drive`.
  Disk& AddDisk(uint8_t drive, uint32_t cylinders, uint8_t heads, uint8_t sectors_per_track) {
    Disk& disk = disks_[drive];
    disk = Disk{cylinders, heads, sectors_per_track, {}, true, false};
    disk.bytes.assign(size_t{cylinders} * heads * sectors_per_track * kSectorSize, 0);
    return disk;
  }
  Disk& AddFloppy(uint8_t drive) { return AddDisk(drive, 80, 2, 18); }
  Disk& AddHardDisk() { return AddDisk(0x80, 4, 16, 63); }

  // The sector at cylinder, head and sector (from 1) of a disk that holds it.
  std::span<uint8_t, kSectorSize> SectorAt(uint8_t drive, uint32_t cylinder, uint8_t head,
                                           uint8_t sector) {
    std::optional<size_t> at = Offset(disks_.at(drive), cylinder, head, sector);
    return std::span<uint8_t, kSectorSize>(disks_.at(drive).bytes.data() + at.value(), kSectorSize);
  }

  bool HasSectors(uint8_t drive) override { return disks_.count(drive) != 0; }

  bool CallReadPhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                               std::span<uint8_t, kSectorSize> sector) override {
    calls.push_back(Call("read", cylinder_sector, head_drive));
    Disk* disk = Find(head_drive);
    if (disk == nullptr || !disk->opens) return false;
    std::optional<size_t> at = Address(*disk, cylinder_sector, head_drive);
    for (size_t i = 0; i < kSectorSize; ++i) sector[i] = at ? disk->bytes[*at + i] : 0;
    return true;
  }

  int CallWritePhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                               std::span<const uint8_t, kSectorSize> sector) override {
    calls.push_back(Call("write", cylinder_sector, head_drive));
    Disk* disk = Find(head_drive);
    if (disk == nullptr || !disk->opens || disk->write_protected) return 0;
    std::optional<size_t> at = Address(*disk, cylinder_sector, head_drive);
    if (!at) return 0;
    std::copy(sector.begin(), sector.end(), disk->bytes.begin() + *at);
    return 1;
  }

  void CopyMemDos(uint16_t, uint16_t, std::span<uint8_t> destination) override {
    std::fill(destination.begin(), destination.end(), 0);
  }

  // "read 0001 0180": each sector call with its two words, in order.
  std::vector<std::string> calls;

 private:
  static std::string Call(const char* what, uint16_t cylinder_sector, uint16_t head_drive) {
    char text[32];
    std::snprintf(text, sizeof text, "%s %04X %04X", what, cylinder_sector, head_drive);
    return text;
  }

  Disk* Find(uint16_t head_drive) {
    auto found = disks_.find(static_cast<uint8_t>(head_drive));
    return found == disks_.end() ? nullptr : &found->second;
  }

  static std::optional<size_t> Offset(const Disk& disk, uint32_t cylinder, uint8_t head,
                                      uint8_t sector) {
    if (cylinder >= disk.cylinders || head >= disk.heads || sector == 0 ||
        sector > disk.sectors_per_track) {
      return std::nullopt;
    }
    return ((size_t{cylinder} * disk.heads + head) * disk.sectors_per_track + sector - 1) *
           kSectorSize;
  }

  static std::optional<size_t> Address(const Disk& disk, uint16_t cylinder_sector,
                                       uint16_t head_drive) {
    return Offset(disk, cylinder_sector >> 8, static_cast<uint8_t>(head_drive >> 8),
                  static_cast<uint8_t>(cylinder_sector));
  }

  std::map<uint8_t, Disk> disks_;
};

}  // namespace quarn::testing
