#pragma once

#include <memory>
#include <optional>

#include "containers/container.h"

namespace quarn {

// Opens floppy and hard-disk images: a whole-image FAT volume (lettered A:), or an MBR
// partition table whose FAT partitions are the volumes (lettered as DOS did, hidden FAT
// types without a letter, other types not volumes at all). Damage seen while opening
// names the partition number ("5"), or "" for the table itself; damage inside a volume
// comes from its file system's TakeDamage.
class DiskImageOpener : public ContainerOpener {
 public:
  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override;
  bool MayOpen(std::span<const uint8_t> head, uint64_t size) const override;
};

}  // namespace quarn
