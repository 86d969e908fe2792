#include "platform/disk_geometry.h"

namespace quarn {
namespace {

constexpr uint64_t kSector = 512;

struct FloppyFormat {
  uint64_t size;
  SectorGeometry geometry;
};

constexpr FloppyFormat kFloppyFormats[] = {
    {320 * 1024, {40, 2, 8}},   {360 * 1024, {40, 2, 9}},   {720 * 1024, {80, 2, 9}},
    {1200 * 1024, {80, 2, 15}}, {1440 * 1024, {80, 2, 18}}, {2880 * 1024, {80, 2, 36}},
};

}  // namespace

std::optional<SectorGeometry> FloppyGeometryForSize(uint64_t size) {
  for (const FloppyFormat& format : kFloppyFormats) {
    if (format.size == size) return format.geometry;
  }
  return std::nullopt;
}

SectorGeometry HardDiskGeometryForSize(uint64_t size) {
  const uint64_t per_cylinder = kSector * kHardDiskHeads * kHardDiskSectors;
  uint64_t cylinders = (size + per_cylinder - 1) / per_cylinder;
  if (cylinders == 0) cylinders = 1;
  if (cylinders > UINT32_MAX) cylinders = UINT32_MAX;
  return {static_cast<uint32_t>(cylinders), kHardDiskHeads, kHardDiskSectors};
}

std::optional<uint64_t> SectorOffset(const SectorGeometry& geometry, uint16_t cylinder_sector,
                                     uint8_t head) {
  const uint32_t cylinder = cylinder_sector >> 8;
  const uint32_t sector = cylinder_sector & 0xFF;
  if (sector == 0 || sector > geometry.sectors || head >= geometry.heads ||
      cylinder >= geometry.cylinders) {
    return std::nullopt;
  }
  return ((uint64_t{cylinder} * geometry.heads + head) * geometry.sectors + (sector - 1)) * kSector;
}

}  // namespace quarn
