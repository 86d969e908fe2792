#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk_geometry.h"
#include "platform/file.h"
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

// A disk image or a block device opened for reading its files (a FAT volume read through the
// container layer), never for writing; anything else (a folder, a FIFO) is refused without
// waiting on it. The failure names the path and the cause.
Result<std::unique_ptr<File>> OpenDiskImageForReading(const std::string& path);

// Why a mapped image cannot be used, for a front end to say.
struct ImageProblem {
  std::string image;            // the path as mapped
  std::optional<uint8_t> disk;  // the BIOS disk it is mapped to; none for the memory image
  bool missing = false;         // nothing exists at that path
  std::string message;          // names the image and the cause
};

// The support library over files: sectors of the mapped disk images and block devices,
// low DOS memory from a memory image (linear address = file offset; beyond its end, and
// without an image, zeros). Images are opened on first use and kept open for as long as their
// path names them (a scan that changed files inside one renames a new file into its place).
// A disk image must
// be a regular file or a block device, a memory image a regular file: anything else (a
// FIFO, a folder) is refused without waiting on it.
//
// A sector read gives false, and leaves the buffer as it was, whenever the disk cannot
// deliver the whole sector: its mapping cannot be opened, the address lies outside its
// geometry, or the image ends before the sector does.
class ImageSystemAccess : public SystemAccess {
 public:
  ImageSystemAccess(std::vector<DiskMapping> disks, std::optional<std::string> memory_image);
  ~ImageSystemAccess() override;
  ImageSystemAccess(const ImageSystemAccess&) = delete;
  ImageSystemAccess& operator=(const ImageSystemAccess&) = delete;

  // The sectors of a disk whose image is a wrapper (a VHD), as the wrapper's reader gives
  // them: `read` fills up to `out.size()` bytes at `offset` of the disk and says how many;
  // none when the disk's sectors cannot be known. The wrapper file itself is never read or
  // written by sector from then on: the drive's reads go to `read`, its writes are refused.
  struct WrappedSectors {
    uint64_t size = 0;
    std::function<size_t(uint64_t offset, std::span<uint8_t> out)> read;
  };
  void ReadThroughWrapper(uint8_t drive, WrappedSectors sectors);

  bool HasSectors(uint8_t drive) override;
  bool SectorsChangeable(uint8_t drive) override;
  bool CallReadPhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                               std::span<uint8_t, kSectorSize> sector) override;
  SectorWriteResult CallWritePhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                                             std::span<const uint8_t, kSectorSize> sector) override;
  void CopyMemDos(uint16_t segment, uint16_t offset, std::span<uint8_t> destination) override;
  bool DosMemoryIsZero(uint16_t segment, uint16_t offset, size_t length) override;

  // Opens every mapped disk image, and the memory image when `with_memory`, as a first use
  // would, and tells each one that cannot be used: missing, of the wrong kind, unreadable,
  // or a disk image shorter than one sector. What opens stays open for the run.
  std::vector<ImageProblem> CheckImages(bool with_memory);

 private:
  // The memory image's descriptor, opened on first use; -1 without one, or when it cannot
  // be used (why, in memory_problem_).
  int MemoryDescriptor();

  struct OpenDisk {
    int descriptor = -1;
    bool writable = false;
    SectorGeometry geometry;
  };

  // The open image of `drive`, opened for writing as well when `for_writing`; nothing when
  // the drive has no mapping or its image cannot be used, with why in `problem` and the
  // open's errno value in `error` (0 when there is no mapping or the mapping is no disk).
  OpenDisk* Open(uint8_t drive, bool for_writing, int* error = nullptr,
                 ImageProblem* problem = nullptr);

  std::map<uint8_t, DiskMapping> mappings_;
  std::map<uint8_t, OpenDisk> open_;
  struct WrappedDisk {
    WrappedSectors sectors;
    SectorGeometry geometry;
  };
  std::map<uint8_t, WrappedDisk> wrapped_;
  std::optional<std::string> memory_image_;
  int memory_descriptor_ = -1;
  bool memory_tried_ = false;
  std::optional<ImageProblem> memory_problem_;
};

}  // namespace quarn
