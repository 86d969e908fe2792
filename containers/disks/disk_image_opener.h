#pragma once

#include <memory>
#include <optional>

#include "containers/container.h"
#include "containers/disks/block_device.h"

namespace quarn {

// Opens floppy and hard-disk images: a whole-image FAT volume (lettered A:), or an MBR
// partition table whose FAT partitions are the volumes (lettered as DOS did, hidden FAT
// types without a letter, other types not volumes at all). An image with no FAT volume to
// read is still one by its first sector alone (OpenedContainer::BootRecordOnly): a sane
// parameter block, or the 55 AA mark on a standard floppy's size, gives a boot sector; a
// marked table that names no FAT volume, empty or not, a master boot record. Damage seen
// while opening names the partition number ("5"), or "" for the table itself; damage inside
// a volume comes from its file system's TakeDamage.
// Opened for writing (a working copy of an image, opened for reading and writing), the
// volumes' files may be changed in place; the default reads only and never writes.
enum class DiskImageAccess { kRead, kReadWrite };

// The same over any device (the sectors a wrapper gives): writable where the device is.
std::optional<OpenedContainer> OpenDisk(std::shared_ptr<BlockDevice> disk);

class DiskImageOpener : public ContainerOpener {
 public:
  explicit DiskImageOpener(DiskImageAccess access = DiskImageAccess::kRead) : access_(access) {}

  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override;
  bool MayOpen(std::span<const uint8_t> head, uint64_t size) const override;

 private:
  DiskImageAccess access_;
};

}  // namespace quarn
