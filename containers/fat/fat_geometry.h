#pragma once

#include <cstdint>
#include <optional>

#include "containers/disks/block_device.h"
#include "containers/container.h"

namespace quarn {

// Where a FAT volume keeps its tables, its root folder and its clusters, in bytes from
// the volume's start.
struct FatGeometry {
  ContainerKind kind = ContainerKind::kFat12;
  uint32_t bytes_per_sector = 512;
  uint32_t sectors_per_cluster = 1;
  uint32_t reserved_sectors = 1;
  uint32_t fat_count = 2;
  uint32_t root_entries = 0;  // 0 on FAT32, whose root folder is a chain
  uint32_t sectors_per_fat = 0;
  uint64_t total_sectors = 0;
  uint32_t root_cluster = 0;  // FAT32 only
  uint32_t cluster_count = 0;
  uint8_t media = 0;
  // False for a DOS 1.x floppy or a boot sector a virus replaced: the geometry is the
  // standard one of the image's size.
  bool from_boot_sector = true;

  uint64_t FatOffset() const { return uint64_t{reserved_sectors} * bytes_per_sector; }
  uint64_t FatBytes() const { return uint64_t{sectors_per_fat} * bytes_per_sector; }
  uint64_t RootOffset() const { return FatOffset() + fat_count * FatBytes(); }
  uint64_t RootBytes() const { return uint64_t{root_entries} * 32; }
  uint64_t RootSectors() const { return (RootBytes() + bytes_per_sector - 1) / bytes_per_sector; }
  uint64_t DataOffset() const { return RootOffset() + RootSectors() * bytes_per_sector; }
  uint32_t ClusterBytes() const { return sectors_per_cluster * bytes_per_sector; }
  uint64_t VolumeBytes() const { return total_sectors * bytes_per_sector; }
  // Clusters are numbered from 2.
  bool IsDataCluster(uint32_t cluster) const { return cluster >= 2 && cluster - 2 < cluster_count; }
  uint64_t ClusterOffset(uint32_t cluster) const {
    return DataOffset() + uint64_t{cluster - 2} * ClusterBytes();
  }
};

// The geometry of the volume that starts at byte 0 of `volume`, or nothing when its
// structure does not check out: a sane BIOS parameter block whose cluster count fits its
// FATs, or, for an image of a standard floppy size whose boot sector says nothing usable,
// a first FAT that starts with a media byte and all ones. Either way the first FAT must
// start inside the device and begin with a media byte. The FAT type follows from the
// cluster count alone, as DOS decides it.
std::optional<FatGeometry> RecognizeFat(BlockDevice& volume);

// The geometry a boot sector's parameter block gives when it passes RecognizeFat's checks of
// the block alone (the FAT's first byte aside), else nothing: a volume whose first sector
// fails them is recognised only by its size, as a standard floppy.
std::optional<FatGeometry> ParameterBlockGeometry(std::span<const uint8_t> boot_sector);

// The geometry of the standard floppy format of `image_bytes`, or nothing for another size.
std::optional<FatGeometry> StandardFloppyGeometry(uint64_t image_bytes);

// The kind a volume of `cluster_count` clusters has: FAT12 below 4085, FAT16 below 65525.
ContainerKind FatKindForClusterCount(uint32_t cluster_count);

}  // namespace quarn
