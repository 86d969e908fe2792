#include "platform/image_system_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace quarn {
namespace {

std::optional<uint32_t> ParseCount(std::string_view text) {
  uint32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<SectorGeometry> ParseGeometry(std::string_view text) {
  const size_t first = text.find('/');
  const size_t second = first == std::string_view::npos ? first : text.find('/', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  auto cylinders = ParseCount(text.substr(0, first));
  auto heads = ParseCount(text.substr(first + 1, second - first - 1));
  auto sectors = ParseCount(text.substr(second + 1));
  if (!cylinders || !heads || !sectors || *cylinders == 0 || *heads == 0 || *heads > 256 ||
      *sectors == 0 || *sectors > 255) {
    return std::nullopt;
  }
  return SectorGeometry{*cylinders, *heads, *sectors};
}

std::optional<uint8_t> DiskOfName(std::string_view name) {
  if (name == "0") return 0;
  if (name == "1") return 1;
  if (name == "0x80" || name == "0X80" || name == "128") return 0x80;
  return std::nullopt;
}

// Reads or writes exactly `length` bytes at `offset`; the count done.
size_t ReadFully(int descriptor, uint8_t* out, size_t length, uint64_t offset) {
  size_t done = 0;
  while (done < length) {
    const ssize_t got =
        pread(descriptor, out + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

uint64_t SizeOf(int descriptor) {
  // lseek, not fstat: a block device reports its size only this way.
  const off_t end = lseek(descriptor, 0, SEEK_END);
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

}  // namespace

Result<DiskMapping> ParseDiskMapping(uint8_t bios_disk, std::string_view text) {
  DiskMapping mapping;
  mapping.bios_disk = bios_disk;
  mapping.image = std::string(text);
  const size_t comma = text.rfind(',');
  if (comma != std::string_view::npos) {
    if (auto geometry = ParseGeometry(text.substr(comma + 1))) {
      mapping.geometry = geometry;
      mapping.image = std::string(text.substr(0, comma));
    }
  }
  if (mapping.image.empty())
    return Status::Error("disk " + std::to_string(bios_disk) + ": no image given");
  return mapping;
}

Result<std::vector<DiskMapping>> DiskMappingsFromSettings(const RegistryDocument& settings) {
  std::vector<DiskMapping> disks;
  for (const std::string& name : settings.ValueNames(kDisksKey)) {
    const std::string context = std::string(kDisksKey) + ", value \"" + name + "\"";
    const std::optional<uint8_t> disk = DiskOfName(name);
    if (!disk) return Status::Error(context + ": the disk is 0, 1 or 0x80");
    const std::optional<std::string> text = settings.ReadText(kDisksKey, name);
    if (!text) return Status::Error(context + ": not a text value (REG_SZ)");
    auto mapping = ParseDiskMapping(*disk, *text);
    if (!mapping) return Status::Error(context + ": " + mapping.message());
    disks.push_back(std::move(*mapping));
  }
  return disks;
}

ImageSystemAccess::ImageSystemAccess(std::vector<DiskMapping> disks,
                                     std::optional<std::string> memory_image)
    : memory_image_(std::move(memory_image)) {
  for (DiskMapping& disk : disks) mappings_[disk.bios_disk] = std::move(disk);
}

ImageSystemAccess::~ImageSystemAccess() {
  for (auto& [drive, disk] : open_) close(disk.descriptor);
  if (memory_descriptor_ >= 0) close(memory_descriptor_);
}

bool ImageSystemAccess::HasSectors(uint8_t drive) {
  return mappings_.count(drive) != 0;
}

ImageSystemAccess::OpenDisk* ImageSystemAccess::Open(uint8_t drive, bool for_writing, int* error) {
  if (error != nullptr) *error = 0;
  auto mapping = mappings_.find(drive);
  if (mapping == mappings_.end()) return nullptr;
  auto open = open_.find(drive);
  if (open != open_.end() && (open->second.writable || !for_writing)) return &open->second;
  const int descriptor = ::open(mapping->second.image.c_str(),
                                (for_writing ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) {
    if (error != nullptr) *error = errno;
    return nullptr;
  }
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISBLK(status.st_mode))) {
    close(descriptor);
    return nullptr;
  }
  OpenDisk disk;
  disk.descriptor = descriptor;
  disk.writable = for_writing;
  const uint64_t size = SizeOf(descriptor);
  if (mapping->second.geometry) {
    disk.geometry = *mapping->second.geometry;
  } else if (drive < 0x80) {
    // A floppy image of an unknown size is read as the commonest disk.
    disk.geometry = FloppyGeometryForSize(size).value_or(SectorGeometry{80, 2, 18});
  } else {
    disk.geometry = HardDiskGeometryForSize(size);
  }
  if (open != open_.end()) {
    close(open->second.descriptor);
    open->second = disk;
    return &open->second;
  }
  return &open_.emplace(drive, disk).first->second;
}

bool ImageSystemAccess::CallReadPhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                                                std::span<uint8_t, kSectorSize> sector) {
  OpenDisk* disk = Open(static_cast<uint8_t>(head_drive), false);
  if (disk == nullptr) return false;
  std::fill(sector.begin(), sector.end(), 0);
  const auto offset = SectorOffset(disk->geometry, cylinder_sector, head_drive >> 8);
  if (offset) ReadFully(disk->descriptor, sector.data(), kSectorSize, *offset);
  return true;
}

SectorWriteResult ImageSystemAccess::CallWritePhysicalSector1(
    uint16_t cylinder_sector, uint16_t head_drive, std::span<const uint8_t, kSectorSize> sector) {
  int error = 0;
  OpenDisk* disk = Open(static_cast<uint8_t>(head_drive), true, &error);
  if (disk == nullptr) {
    // An image or device the user may read but not write is a write-protected disk.
    const bool read_only = error == EACCES || error == EPERM || error == EROFS;
    return read_only ? SectorWriteResult::kRefused : SectorWriteResult::kCannotOpen;
  }
  const auto offset = SectorOffset(disk->geometry, cylinder_sector, head_drive >> 8);
  // A write never lengthens an image: the sector must already be there.
  if (!offset || *offset + kSectorSize > SizeOf(disk->descriptor)) {
    return SectorWriteResult::kRefused;
  }
  size_t done = 0;
  while (done < kSectorSize) {
    const ssize_t put = pwrite(disk->descriptor, sector.data() + done, kSectorSize - done,
                               static_cast<off_t>(*offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return SectorWriteResult::kRefused;
    done += static_cast<size_t>(put);
  }
  return SectorWriteResult::kWritten;
}

void ImageSystemAccess::CopyMemDos(uint16_t segment, uint16_t offset,
                                   std::span<uint8_t> destination) {
  std::fill(destination.begin(), destination.end(), 0);
  if (MemoryDescriptor() < 0) return;
  const uint64_t linear = uint64_t{segment} * 16 + offset;
  ReadFully(memory_descriptor_, destination.data(), destination.size(), linear);
}

int ImageSystemAccess::MemoryDescriptor() {
  if (!memory_tried_) {
    memory_tried_ = true;
    if (memory_image_) memory_descriptor_ = ::open(memory_image_->c_str(), O_RDONLY | O_CLOEXEC);
  }
  return memory_descriptor_;
}

bool ImageSystemAccess::DosMemoryIsZero(uint16_t segment, uint16_t offset, size_t /*length*/) {
  if (MemoryDescriptor() < 0) return true;
  struct stat status {};
  if (fstat(memory_descriptor_, &status) != 0) return false;
  // Only an address past the image's end is known to read as zeros; an image that grows
  // meanwhile is read as it is then.
  return uint64_t{segment} * 16 + offset >= static_cast<uint64_t>(status.st_size);
}

}  // namespace quarn
