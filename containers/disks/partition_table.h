#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "containers/disks/block_device.h"
#include "containers/container.h"

namespace quarn {

inline constexpr uint32_t kTableSectorSize = 512;
// More logical drives than any DOS-era tool made; a longer chain is hostile.
inline constexpr uint32_t kMaxLogicalPartitions = 255;

struct Partition {
  // 1–4 by table slot, 5 and up for logical drives in chain order.
  uint32_t number = 0;
  uint8_t type = 0;
  // In 512-byte sectors from the start of the disk.
  uint64_t first_sector = 0;
  uint64_t sector_count = 0;
  bool logical() const { return number > 4; }
};

struct PartitionTable {
  // Primaries by slot, then logical drives in chain order; extended partitions and empty
  // slots are not listed.
  std::vector<Partition> partitions;
  // Why some of the table was not read (an odd slot, a partition past the disk's end, a chain
  // that loops or leaves the disk), with the number of the partition concerned, or "" for
  // the table itself. Each at most once.
  std::vector<ContainerDamage> damage;
};

// True for the partition types that hold FAT volumes, hidden ones included.
bool IsFatPartitionType(uint8_t type);
// True for the hidden FAT types, which DOS and Windows never gave a letter.
bool IsHiddenFatPartitionType(uint8_t type);
bool IsExtendedPartitionType(uint8_t type);

// The partitions in the table of sector 0. A used slot is odd when its boot flag is other
// than 00/80, it starts at sector 0 or is empty, or it overlaps an earlier slot: it is left
// out and named in `damage`, and the other slots are read. Nothing when no slot is read,
// unless all four are blank: that is an empty table, which only the caller can tell from
// zeros (by the 55 AA mark). Reads sector 0 and the chain of extended boot records, at
// most kMaxLogicalPartitions of them, each at most once.
std::optional<PartitionTable> ReadPartitionTable(BlockDevice& disk);

// Whether a disk whose first sector is `sector` may be a partitioned disk worth opening: the
// sector carries the 55 AA mark, or one of its four slots names a FAT or an extended type.
bool TableMayHoldFatVolumes(std::span<const uint8_t> sector);

// The drive letters of `partitions` as DOS gave them on one disk: the first FAT primary
// C:, then the logical FAT drives in chain order, then the other FAT primaries; hidden and
// other types get "". Same order as `partitions`.
std::vector<std::string> LetterPartitions(const std::vector<Partition>& partitions);

}  // namespace quarn
