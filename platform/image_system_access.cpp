#include "platform/image_system_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/path_names.h"
#include "platform/posix_file.h"

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

// Opens `path` for a read (and a write, with `for_writing`) without waiting on a FIFO, and
// keeps it only when its kind is one `accepted` takes; otherwise -1, with the open's errno
// value in `error` (0 for a file of the wrong kind) and why in `problem`.
int OpenImage(const std::string& path, bool for_writing, bool (*accepted)(mode_t),
              std::string_view wanted, int* error, ImageProblem* problem) {
  const int descriptor =
      ::open(path.c_str(), (for_writing ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  int open_error = 0;
  std::string cause;
  struct stat status {};
  if (descriptor < 0) {
    open_error = errno;
    cause = ErrnoText(open_error);
  } else if (fstat(descriptor, &status) != 0) {
    cause = ErrnoText(errno);
  } else if (accepted(status.st_mode)) {
    return descriptor;
  } else {
    cause = "is " + std::string(FileKindName(status.st_mode)) + ", not " + std::string(wanted);
  }
  if (descriptor >= 0) close(descriptor);
  if (error != nullptr) *error = open_error;
  if (problem != nullptr) {
    problem->image = path;
    problem->missing = open_error == ENOENT;
    problem->message = PathMessage("cannot open", path, cause);
  }
  return -1;
}

bool IsDiskKind(mode_t mode) {
  return S_ISREG(mode) || S_ISBLK(mode);
}

bool IsMemoryKind(mode_t mode) {
  return S_ISREG(mode);
}

constexpr std::string_view kDiskWanted = "a disk image or a block device";
constexpr std::string_view kMemoryWanted = "a memory image (a regular file)";

uint64_t SizeOf(int descriptor) {
  // lseek, not fstat: a block device reports its size only this way.
  const off_t end = lseek(descriptor, 0, SEEK_END);
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

// Whether `path` still names the file open on `descriptor`: a scan that changed files inside
// an image put a new file in the image's place, whose sectors are the ones to read now.
bool StillNamedBy(int descriptor, const std::string& path) {
  struct stat open_file;
  struct stat named;
  if (fstat(descriptor, &open_file) != 0 || stat(path.c_str(), &named) != 0) return true;
  return open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

SectorGeometry GeometryOf(const DiskMapping& mapping, uint64_t size) {
  if (mapping.geometry) return *mapping.geometry;
  // A floppy image of an unknown size is read as the commonest disk.
  if (mapping.bios_disk < 0x80) {
    return FloppyGeometryForSize(size).value_or(SectorGeometry{80, 2, 18});
  }
  return HardDiskGeometryForSize(size);
}

}  // namespace

Result<std::unique_ptr<File>> OpenDiskImageForReading(const std::string& path) {
  ImageProblem problem;
  const int descriptor = OpenImage(path, false, &IsDiskKind, kDiskWanted, nullptr, &problem);
  if (descriptor < 0) return Status::Error(problem.message);
  return std::unique_ptr<File>(std::make_unique<PosixFile>(descriptor, 0));
}

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

void ImageSystemAccess::ReadThroughWrapper(uint8_t drive, WrappedSectors sectors) {
  auto mapping = mappings_.find(drive);
  if (mapping == mappings_.end()) return;
  const SectorGeometry geometry = GeometryOf(mapping->second, sectors.size);
  wrapped_[drive] = WrappedDisk{std::move(sectors), geometry};
}

bool ImageSystemAccess::HasSectors(uint8_t drive) {
  return mappings_.count(drive) != 0;
}

bool ImageSystemAccess::SectorsChangeable(uint8_t drive) {
  return wrapped_.count(drive) == 0;
}

ImageSystemAccess::OpenDisk* ImageSystemAccess::Open(uint8_t drive, bool for_writing, int* error,
                                                     ImageProblem* problem) {
  if (error != nullptr) *error = 0;
  auto mapping = mappings_.find(drive);
  if (mapping == mappings_.end()) return nullptr;
  auto open = open_.find(drive);
  if (open != open_.end() && (open->second.writable || !for_writing) &&
      StillNamedBy(open->second.descriptor, mapping->second.image)) {
    return &open->second;
  }
  const int descriptor =
      OpenImage(mapping->second.image, for_writing, &IsDiskKind, kDiskWanted, error, problem);
  if (descriptor < 0) return nullptr;
  OpenDisk disk;
  disk.descriptor = descriptor;
  disk.writable = for_writing;
  disk.geometry = GeometryOf(mapping->second, SizeOf(descriptor));
  if (open != open_.end()) {
    close(open->second.descriptor);
    open->second = disk;
    return &open->second;
  }
  return &open_.emplace(drive, disk).first->second;
}

bool ImageSystemAccess::CallReadPhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                                                std::span<uint8_t, kSectorSize> sector) {
  // A short read is a failed one: zeros in place of an image's missing end would read as a
  // sector with nothing wrong in it.
  std::array<uint8_t, kSectorSize> read{};
  auto wrapped = wrapped_.find(static_cast<uint8_t>(head_drive));
  if (wrapped != wrapped_.end()) {
    const auto offset = SectorOffset(wrapped->second.geometry, cylinder_sector, head_drive >> 8);
    const auto& reader = wrapped->second.sectors.read;
    if (!offset || !reader || *offset + kSectorSize > wrapped->second.sectors.size ||
        reader(*offset, read) != kSectorSize) {
      return false;
    }
  } else {
    OpenDisk* disk = Open(static_cast<uint8_t>(head_drive), false);
    if (disk == nullptr) return false;
    const auto offset = SectorOffset(disk->geometry, cylinder_sector, head_drive >> 8);
    if (!offset || ReadFully(disk->descriptor, read.data(), kSectorSize, *offset) != kSectorSize)
      return false;
  }
  std::copy(read.begin(), read.end(), sector.begin());
  return true;
}

SectorWriteResult ImageSystemAccess::CallWritePhysicalSector1(
    uint16_t cylinder_sector, uint16_t head_drive, std::span<const uint8_t, kSectorSize> sector) {
  // A wrapper's format would have to be rewritten around the sector: it is never opened for
  // writing at all.
  if (!SectorsChangeable(static_cast<uint8_t>(head_drive))) return SectorWriteResult::kRefused;
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
    if (memory_image_) {
      ImageProblem problem;
      memory_descriptor_ =
          OpenImage(*memory_image_, false, &IsMemoryKind, kMemoryWanted, nullptr, &problem);
      if (memory_descriptor_ < 0) memory_problem_ = std::move(problem);
    }
  }
  return memory_descriptor_;
}

std::vector<ImageProblem> ImageSystemAccess::CheckImages(bool with_memory) {
  std::vector<ImageProblem> problems;
  for (const auto& [drive, mapping] : mappings_) {
    // A wrapper was opened and read already to give its sectors.
    if (wrapped_.count(drive) != 0) continue;
    ImageProblem problem;
    problem.disk = drive;
    const OpenDisk* disk = Open(drive, false, nullptr, &problem);
    if (disk != nullptr) {
      // It stays open: its boot check then says that the sector cannot be read.
      const uint64_t size = SizeOf(disk->descriptor);
      if (size >= kSectorSize) continue;
      problem.image = mapping.image;
      problem.message =
          PathMessage("cannot use", mapping.image,
                      "holds " + std::to_string(size) + " bytes, less than one sector of 512");
    }
    problems.push_back(std::move(problem));
  }
  if (with_memory && MemoryDescriptor() < 0 && memory_problem_) {
    problems.push_back(*memory_problem_);
  }
  return problems;
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
