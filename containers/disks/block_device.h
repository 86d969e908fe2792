#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/status.h"

namespace quarn {

// Bytes addressed by offset: a whole image, or a window of one (a partition). Every layer
// above reads through this and never learns where the bytes live.
class BlockDevice {
 public:
  virtual ~BlockDevice() = default;

  // The bytes the device holds; a read never goes past them.
  virtual uint64_t Size() const = 0;

  // Reads up to `length` bytes at `offset` into `buffer`. Returns how many were read: fewer
  // than asked at the end of the device or when the storage fails. Safe to call from
  // several threads at once.
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t length) = 0;

  // The seam the write side goes through: `length` bytes at `offset`, all or a failure
  // that names the device. A device opened for reading refuses every write.
  virtual Status WriteAt(uint64_t offset, const void* buffer, size_t length) = 0;

  // Pushes written bytes to the storage under the device.
  virtual Status Flush() = 0;

  // Whether WriteAt may succeed at all: the layers above refuse a change before they start
  // one on a device that would refuse its first write.
  virtual bool Writable() const = 0;
};

// `length` bytes at `offset`, or an empty vector when the device holds fewer.
std::vector<uint8_t> ReadExactly(BlockDevice& device, uint64_t offset, size_t length);

}  // namespace quarn
