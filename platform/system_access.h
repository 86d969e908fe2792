#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quarn {

inline constexpr uint32_t kSectorSize = 512;

// What a sector write came to. Callers of the support library know only "written" or not;
// the two failures differ in the message the program shows first.
enum class SectorWriteResult {
  kWritten,
  kRefused,     // the disk is there but takes no writes: write-protected, or no such sector
  kCannotOpen,  // the disk's mapping cannot be opened at all
};

// The support library: 512-byte disk sectors in BIOS disk-service addressing, and copies of
// low DOS memory. The platform layer implements it over disk images, block devices and a
// memory image; tests implement it in memory.
//
// A cylinder-sector word holds the cylinder (0–255) in its high byte and the sector number,
// counted from 1, in its low byte; a head-drive word holds the head in its high byte and
// the BIOS drive (0 first floppy, 1 second floppy, 0x80 first hard disk) in its low byte.
class SystemAccess {
 public:
  virtual ~SystemAccess() = default;

  // Whether BIOS drive `drive` has sectors at all. A drive without them shows only the
  // boot check's header and closing lines, with no message.
  virtual bool HasSectors(uint8_t drive) = 0;

  // Fills `sector` from the addressed sector. A sector that cannot be read (past the end
  // of an image, say) reads as zeros; a mapping that cannot be opened leaves `sector` as
  // it was and returns false (the caller shows "Impossibile leggere il Boot Sector.").
  virtual bool CallReadPhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                                       std::span<uint8_t, kSectorSize> sector) = 0;

  // Writes the addressed sector: kWritten only when all 512 bytes were written.
  virtual SectorWriteResult CallWritePhysicalSector1(
      uint16_t cylinder_sector, uint16_t head_drive,
      std::span<const uint8_t, kSectorSize> sector) = 0;

  // Whether a write to BIOS drive `drive` may change it at all: false for a disk whose
  // sectors are read, never written (one inside a disk image wrapper). Callers refuse a
  // change before they start one.
  virtual bool SectorsChangeable(uint8_t /*drive*/) { return true; }

  // Fills `destination` from linear address segment × 16 + offset of low DOS memory;
  // memory the platform cannot read reads as zeros.
  virtual void CopyMemDos(uint16_t segment, uint16_t offset, std::span<uint8_t> destination) = 0;

  // True when CopyMemDos of `length` bytes there would deliver only zeros, known without
  // copying them (no memory to read, or an address past its end); false when it may not, or
  // when the platform cannot tell.
  virtual bool DosMemoryIsZero(uint16_t /*segment*/, uint16_t /*offset*/, size_t /*length*/) {
    return false;
  }
};

}  // namespace quarn
