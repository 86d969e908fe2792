#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk_geometry.h"
#include "platform/registry_document.h"
#include "platform/status.h"
#include "platform/system_access.h"

namespace quarn {

inline constexpr std::string_view kDisksKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp\\Disks";
inline constexpr std::string_view kMemoryImageValue = "MemoryImage";

// A BIOS disk (0, 1 or 0x80) whose sectors come from a disk image or a block device.
struct DiskMapping {
  uint8_t bios_disk = 0;
  std::string image;
  std::optional<SectorGeometry> geometry;  // from the image's size when absent
  bool operator==(const DiskMapping&) const = default;
};

// `IMAGE` or `IMAGE,C/H/S`: the geometry is what follows the last comma when it has that
// shape, so an image path may hold commas.
Result<DiskMapping> ParseDiskMapping(uint8_t bios_disk, std::string_view text);

// The store's Disks key: values "0", "1" and "0x80", each `IMAGE[,C/H/S]`.
Result<std::vector<DiskMapping>> DiskMappingsFromSettings(const RegistryDocument& settings);

// The support library over files: sectors of the mapped disk images and block devices,
// low DOS memory from a memory image (linear address = file offset; beyond its end, and
// without an image, zeros). Images are opened on first use and kept open.
class ImageSystemAccess : public SystemAccess {
 public:
  ImageSystemAccess(std::vector<DiskMapping> disks, std::optional<std::string> memory_image);
  ~ImageSystemAccess() override;
  ImageSystemAccess(const ImageSystemAccess&) = delete;
  ImageSystemAccess& operator=(const ImageSystemAccess&) = delete;

  bool HasSectors(uint8_t drive) override;
  bool CallReadPhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                               std::span<uint8_t, kSectorSize> sector) override;
  SectorWriteResult CallWritePhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                                             std::span<const uint8_t, kSectorSize> sector) override;
  void CopyMemDos(uint16_t segment, uint16_t offset, std::span<uint8_t> destination) override;
  bool DosMemoryIsZero(uint16_t segment, uint16_t offset, size_t length) override;

 private:
  // The memory image's descriptor, opened on first use; -1 without one.
  int MemoryDescriptor();

  struct OpenDisk {
    int descriptor = -1;
    bool writable = false;
    SectorGeometry geometry;
  };

  // The open image of `drive`, opened for writing as well when `for_writing`; nothing when
  // the drive has no mapping or its image cannot be opened, with the cause in `error`
  // (an errno value; 0 when there is no mapping or the mapping is no disk).
  OpenDisk* Open(uint8_t drive, bool for_writing, int* error = nullptr);

  std::map<uint8_t, DiskMapping> mappings_;
  std::map<uint8_t, OpenDisk> open_;
  std::optional<std::string> memory_image_;
  int memory_descriptor_ = -1;
  bool memory_tried_ = false;
};

}  // namespace quarn
