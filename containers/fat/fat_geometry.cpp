#include "containers/fat/fat_geometry.h"

#include <array>
#include <bit>
#include <vector>

#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr size_t kBytesPerSectorOffset = 0x0B;
constexpr size_t kSectorsPerClusterOffset = 0x0D;
constexpr size_t kReservedSectorsOffset = 0x0E;
constexpr size_t kFatCountOffset = 0x10;
constexpr size_t kRootEntriesOffset = 0x11;
constexpr size_t kTotalSectors16Offset = 0x13;
constexpr size_t kMediaOffset = 0x15;
constexpr size_t kSectorsPerFat16Offset = 0x16;
constexpr size_t kTotalSectors32Offset = 0x20;
constexpr size_t kSectorsPerFat32Offset = 0x24;
constexpr size_t kRootClusterOffset = 0x2C;
constexpr size_t kBootSectorBytes = 512;
constexpr uint32_t kMaxClusterBytes = 64 * 1024;

struct FloppyFormat {
  uint64_t bytes;
  uint32_t sectors_per_cluster;
  uint32_t root_entries;
  uint32_t sectors_per_fat;
  uint8_t media;
};

// The formats DOS and Windows wrote; DMF is the 21-sector distribution format.
constexpr std::array<FloppyFormat, 9> kFloppyFormats = {{
    {163840, 1, 64, 1, 0xFE},
    {184320, 1, 64, 2, 0xFC},
    {327680, 2, 112, 1, 0xFF},
    {368640, 2, 112, 2, 0xFD},
    {737280, 2, 112, 3, 0xF9},
    {1228800, 1, 224, 7, 0xF9},
    {1474560, 1, 224, 9, 0xF0},
    {1720320, 4, 16, 3, 0xF0},
    {2949120, 2, 240, 9, 0xF0},
}};

bool IsMediaByte(uint8_t value) {
  return value == 0xF0 || value >= 0xF8;
}

uint32_t FatEntryBits(ContainerKind kind) {
  return kind == ContainerKind::kFat12 ? 12 : kind == ContainerKind::kFat16 ? 16 : 32;
}

// Fills in the cluster count and kind; false when the layout leaves no clusters or the
// FATs cannot hold an entry for each cluster.
bool CompleteGeometry(FatGeometry& geometry) {
  const uint64_t data_sector = geometry.DataOffset() / geometry.bytes_per_sector;
  if (geometry.total_sectors <= data_sector) return false;
  const uint64_t clusters = (geometry.total_sectors - data_sector) / geometry.sectors_per_cluster;
  if (clusters == 0 || clusters > 0x0FFFFFF5) return false;
  geometry.cluster_count = static_cast<uint32_t>(clusters);
  geometry.kind = FatKindForClusterCount(geometry.cluster_count);
  const uint64_t needed_bits = (clusters + 2) * FatEntryBits(geometry.kind);
  return geometry.FatBytes() * 8 >= needed_bits;
}

std::optional<FatGeometry> FromParameterBlock(std::span<const uint8_t> sector) {
  FatGeometry geometry;
  geometry.bytes_per_sector = ReadU16(sector, kBytesPerSectorOffset);
  geometry.sectors_per_cluster = ReadU8(sector, kSectorsPerClusterOffset);
  geometry.reserved_sectors = ReadU16(sector, kReservedSectorsOffset);
  geometry.fat_count = ReadU8(sector, kFatCountOffset);
  geometry.root_entries = ReadU16(sector, kRootEntriesOffset);
  geometry.media = ReadU8(sector, kMediaOffset);
  const uint16_t total16 = ReadU16(sector, kTotalSectors16Offset);
  geometry.total_sectors = total16 != 0 ? total16 : ReadU32(sector, kTotalSectors32Offset);
  const uint16_t fat16 = ReadU16(sector, kSectorsPerFat16Offset);
  geometry.sectors_per_fat = fat16 != 0 ? fat16 : ReadU32(sector, kSectorsPerFat32Offset);

  if (geometry.bytes_per_sector < 512 || geometry.bytes_per_sector > 4096 ||
      !std::has_single_bit(geometry.bytes_per_sector)) {
    return std::nullopt;
  }
  if (geometry.sectors_per_cluster == 0 || !std::has_single_bit(geometry.sectors_per_cluster) ||
      geometry.ClusterBytes() > kMaxClusterBytes) {
    return std::nullopt;
  }
  if (geometry.reserved_sectors == 0 || geometry.fat_count < 1 || geometry.fat_count > 2) {
    return std::nullopt;
  }
  if (!IsMediaByte(geometry.media) || geometry.sectors_per_fat == 0) return std::nullopt;
  if (!CompleteGeometry(geometry)) return std::nullopt;
  if (geometry.kind == ContainerKind::kFat32) {
    // A FAT32 volume keeps its root in a chain and its FAT size in the 32-bit field.
    geometry.root_cluster = ReadU32(sector, kRootClusterOffset);
    if (geometry.root_entries != 0 || fat16 != 0) return std::nullopt;
    if (!geometry.IsDataCluster(geometry.root_cluster)) return std::nullopt;
  } else if (geometry.root_entries == 0 || fat16 == 0) {
    return std::nullopt;
  }
  return geometry;
}

// True when the first FAT starts inside `volume` with a media byte, and, where asked,
// with the rest of its first two entries all ones.
bool FatStartsWell(BlockDevice& volume, const FatGeometry& geometry, bool all_ones) {
  const std::vector<uint8_t> start = ReadExactly(volume, geometry.FatOffset(), 3);
  if (start.empty() || !IsMediaByte(start[0])) return false;
  return !all_ones || (start[1] == 0xFF && start[2] == 0xFF);
}

}  // namespace

ContainerKind FatKindForClusterCount(uint32_t cluster_count) {
  if (cluster_count < 4085) return ContainerKind::kFat12;
  if (cluster_count < 65525) return ContainerKind::kFat16;
  return ContainerKind::kFat32;
}

std::optional<FatGeometry> StandardFloppyGeometry(uint64_t image_bytes) {
  for (const FloppyFormat& format : kFloppyFormats) {
    if (format.bytes != image_bytes) continue;
    FatGeometry geometry;
    geometry.sectors_per_cluster = format.sectors_per_cluster;
    geometry.root_entries = format.root_entries;
    geometry.sectors_per_fat = format.sectors_per_fat;
    geometry.media = format.media;
    geometry.total_sectors = format.bytes / 512;
    geometry.from_boot_sector = false;
    if (!CompleteGeometry(geometry)) return std::nullopt;
    return geometry;
  }
  return std::nullopt;
}

std::optional<FatGeometry> ParameterBlockGeometry(std::span<const uint8_t> boot_sector) {
  if (boot_sector.size() < kBootSectorBytes) return std::nullopt;
  return FromParameterBlock(boot_sector);
}

std::optional<FatGeometry> RecognizeFat(BlockDevice& volume) {
  const std::vector<uint8_t> sector = ReadExactly(volume, 0, kBootSectorBytes);
  if (sector.empty()) return std::nullopt;
  if (std::optional<FatGeometry> geometry = FromParameterBlock(sector)) {
    if (FatStartsWell(volume, *geometry, false)) return geometry;
  }
  std::optional<FatGeometry> floppy = StandardFloppyGeometry(volume.Size());
  if (floppy && FatStartsWell(volume, *floppy, true)) return floppy;
  return std::nullopt;
}

}  // namespace quarn
