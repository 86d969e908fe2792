#pragma once

#include <cstdint>
#include <optional>

namespace quarn {

// Cylinders, heads and sectors per track of a disk image.
struct SectorGeometry {
  uint32_t cylinders = 0;
  uint32_t heads = 0;
  uint32_t sectors = 0;
  bool operator==(const SectorGeometry&) const = default;
};

// Hard disks are addressed with 16 heads of 63 sectors unless their mapping says otherwise.
inline constexpr uint32_t kHardDiskHeads = 16;
inline constexpr uint32_t kHardDiskSectors = 63;

// The geometry of a floppy image from its size: 320, 360 and 720 KB, 1.2, 1.44 and 2.88 MB
// disks; nothing for any other size.
std::optional<SectorGeometry> FloppyGeometryForSize(uint64_t size);

// The geometry of a hard disk image of `size` bytes: 16 heads of 63 sectors, as many
// cylinders as the image fills (at least one).
SectorGeometry HardDiskGeometryForSize(uint64_t size);

// The byte offset of the sector a cylinder-sector word (cylinder in the high byte, sector
// from 1 in the low byte) and a head name; nothing for sector 0 or an address outside the
// geometry.
std::optional<uint64_t> SectorOffset(const SectorGeometry& geometry, uint16_t cylinder_sector,
                                     uint8_t head);

}  // namespace quarn
