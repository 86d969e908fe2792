#pragma once

#include <cstdint>
#include <vector>

#include "containers/fat/fat_directory.h"
#include "containers/fat/fat_names.h"
#include "containers/fat/fat_table.h"
#include "containers/fat/fat_volume.h"
#include "platform/status.h"

namespace quarn {

// Changes to the entries of one FAT folder: marking an entry deleted and giving one a new
// name. Every write goes through the volume's device; the short entry is written last, so a
// change cut short leaves at worst long-name entries without their short entry, which
// readers skip.
class FatDirectoryEditor {
 public:
  // The folder whose chain starts at `first_cluster`, or the fixed root of a FAT12 or FAT16
  // volume when `fixed_root` is set. `table` is the change's FAT, for a folder that grows.
  FatDirectoryEditor(FatVolume& volume, FatTable& table, uint32_t first_cluster, bool fixed_root);

  // Marks the record's long-name entries and then its short entry deleted.
  Status MarkDeleted(const DirectoryRecord& record);

  // Stores the record under `name`, keeping its cluster, size, attributes and times. The
  // entries stay where they are when they have room enough (leftover long-name entries are
  // marked deleted); else the name goes to the first free run of entries, a subfolder's
  // chain grows by zeroed clusters when it has none, and the old entries are marked deleted
  // after the new ones are written. Returns where the short entry is now.
  Result<uint64_t> Rename(const DirectoryRecord& record, const StoredName& name);

 private:
  // The offset of every entry of the folder, in order; empty when its chain is broken.
  std::vector<uint64_t> Slots() const;
  // Where `count` entries in a row are free, growing a subfolder when none are.
  Result<std::vector<uint64_t>> FreeRun(size_t count);
  Status Grow(size_t clusters);
  Status Mark(uint64_t offset, uint8_t first_byte);
  // `bytes` holds one slot for each of `targets`, in order.
  Status WriteSlots(const std::vector<uint64_t>& targets, const std::vector<uint8_t>& bytes);

  FatVolume& volume_;
  FatTable& table_;
  uint32_t first_cluster_;
  bool fixed_root_;
};

// The entry at `entry_offset` now starts at `first_cluster` and holds `size` bytes.
Status WriteEntryExtent(BlockDevice& device, uint64_t entry_offset, uint32_t first_cluster,
                        uint32_t size);
// The entry's modification time and date, in DOS form.
Status WriteEntryWriteTime(BlockDevice& device, uint64_t entry_offset, uint16_t time,
                           uint16_t date);
Status WriteEntryAttributes(BlockDevice& device, uint64_t entry_offset, uint8_t attributes);

}  // namespace quarn
