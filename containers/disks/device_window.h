#pragma once

#include <cstdint>
#include <memory>

#include "containers/disks/block_device.h"

namespace quarn {

// The bytes of `device` from `offset` on, at most `length` of them, clipped to the device: a
// window that reaches past the end is shorter, one that starts past it is empty. Reads and
// writes go to the device, so the window is writable exactly when the device is.
std::shared_ptr<BlockDevice> WindowOf(std::shared_ptr<BlockDevice> device, uint64_t offset,
                                      uint64_t length);

}  // namespace quarn
