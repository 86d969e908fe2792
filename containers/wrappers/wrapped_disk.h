#pragma once

#include <memory>
#include <vector>

#include "containers/container.h"
#include "containers/disks/block_device.h"

namespace quarn {

// What a wrapper's reader made of a file whose structure is the wrapper's: the disk's sectors
// as a read-only device, or none when they cannot be known (a differencing image, whose parent
// is never opened), and the damage or gaps of the wrapper itself, each named "".
struct WrappedDisk {
  ContainerKind kind = ContainerKind::kVhd;
  std::shared_ptr<BlockDevice> disk;
  std::vector<ContainerDamage> damage;
  // Whether reading the disk decompresses the wrapper's data: the scan's size and time limits
  // then apply to its reads as to an archive's.
  bool unpacks = false;
  // The bytes the wrapper unpacked to give the disk, for the size limit of the scan: 0 for a
  // wrapper whose sectors are read where they lie.
  uint64_t unpacked = 0;
};

// The wrapper of `kind` that will not be read: it names files outside itself.
inline WrappedDisk UnsupportedWrapper(ContainerKind kind) {
  return WrappedDisk{kind, nullptr, {{"", IncompleteReason::kUnsupported}}};
}

}  // namespace quarn
