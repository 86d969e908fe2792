#pragma once

#include "containers/disks/block_device.h"

namespace quarn {

// A device of a disk inside a wrapper: nothing is ever written through it, as the wrapper's
// own format would have to be written around the change.
class ReadOnlyDevice : public BlockDevice {
 public:
  Status WriteAt(uint64_t offset, const void* buffer, size_t length) final;
  Status Flush() final { return Status::Ok(); }
  bool Writable() const final { return false; }
};

}  // namespace quarn
