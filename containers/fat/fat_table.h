#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "containers/fat/fat_volume.h"
#include "platform/status.h"

namespace quarn {

// The first FAT of a volume held in memory for one change, written through to every copy
// on the device entry by entry. Loaded whole: a change needs free clusters and who points
// where, and a FAT is at most a few megabytes.
class FatTable {
 public:
  // Reads the first FAT; nothing when the device holds less than it.
  static std::optional<FatTable> Load(FatVolume& volume);
  // Whether every FAT copy of `volume` holds the same bytes as the first one.
  static bool CopiesAgree(FatVolume& volume);

  // The raw entry of `cluster` (12, 16 or 28 bits); 0 is free.
  uint32_t Get(uint32_t cluster) const;
  bool IsEnd(uint32_t value) const;
  uint32_t EndMark() const;

  // Sets the entry of `cluster` in memory and in every copy on the device. A FAT32 volume's
  // FSInfo counts are set to unknown before its first change.
  Status Set(uint32_t cluster, uint32_t value);

  // The chain from `first` in order, or nothing when it is broken, loops or leaves the data
  // clusters.
  std::optional<std::vector<uint32_t>> Chain(uint32_t first) const;
  // Whether any FAT entry outside the chain points into it, or one of its links is pointed
  // at twice: another chain shares its clusters.
  bool Shared(const std::vector<uint32_t>& chain) const;
  // The `count` lowest free clusters, or nothing when the volume has fewer.
  std::optional<std::vector<uint32_t>> FindFree(size_t count) const;
  // The `count` lowest free clusters zeroed, then chained among themselves to an end mark,
  // not yet linked from anything: zeroed first, so that they read as zeros (or as the end of
  // a folder) the moment a chain reaches them.
  Result<std::vector<uint32_t>> TakeFree(size_t count);

 private:
  explicit FatTable(FatVolume& volume) : volume_(&volume) {}
  uint64_t EntryOffset(uint32_t cluster) const;
  size_t EntryWidth() const;
  Status ForgetFreeCount();

  FatVolume* volume_;
  std::vector<uint8_t> bytes_;
  bool free_count_forgotten_ = false;
};

// Writes `length` zero bytes at `offset` of the volume's device.
Status ZeroBytes(BlockDevice& device, uint64_t offset, uint64_t length);

}  // namespace quarn
