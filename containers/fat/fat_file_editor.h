#pragma once

#include <cstdint>
#include <vector>

#include "containers/fat/fat_directory.h"
#include "containers/fat/fat_table.h"
#include "containers/fat/fat_volume.h"
#include "platform/status.h"

namespace quarn {

// Changes to the bytes of one file of a FAT volume, for the length of one change. Every
// byte a file gives up is zeroed on the device before its cluster is freed, so nothing of
// it stays behind in free space. The entry's times are never touched here.
class FatFileEditor {
 public:
  // `record` is the file's entry; it follows the change (size, first cluster).
  FatFileEditor(FatVolume& volume, FatTable& table, DirectoryRecord& record);

  // Nothing when the file may be changed: its chain is whole, holds as many clusters as
  // its size needs, and no other chain shares a cluster of it: no FAT link from outside
  // leads into it and no other entry of the volume starts inside it (which reads every
  // folder). Else why not.
  // `every_entry`: also count every entry's start (the census reads every folder); a handle
  // checked that way when it was opened may skip it for its later changes, since a change
  // only ever takes free clusters.
  std::optional<std::string> Refusal(bool every_entry = true);

  // `length` bytes at `position`; the file grows by zeroed clusters, lowest free first,
  // where they reach past its end, and bytes between its old end and `position` are zeros.
  Status Write(uint64_t position, const uint8_t* bytes, uint32_t length);
  // Ends the file at `size`: cuts it (the size in the entry first, then the cut bytes
  // zeroed, then the chain ended and the rest freed) or extends it with zeros.
  Status Resize(uint64_t size);
  // Zeroes every cluster of the file, then, after the caller marked its entry deleted,
  // frees them: the two halves of a delete.
  Status ZeroAll();
  Status FreeAll();

 private:
  // Adds zeroed clusters until the chain holds `count`.
  Status EnsureClusters(uint64_t count);
  Status ZeroRange(uint64_t from, uint64_t to);
  uint64_t ClustersFor(uint64_t size) const;

  FatVolume& volume_;
  FatTable& table_;
  DirectoryRecord& record_;
  std::vector<uint32_t> chain_;
  bool chain_read_ = false;
};

}  // namespace quarn
