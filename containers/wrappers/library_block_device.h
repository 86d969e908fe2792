#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "containers/wrappers/read_only_device.h"

namespace quarn {

// A disk read through a format library's open handle, read only. The handle has one position
// inside, so reads take turns.
class LibraryBlockDevice : public ReadOnlyDevice {
 public:
  // Reads `length` bytes at `offset` of the disk; fewer, or a negative count, on failure.
  using ReadFunction = std::function<int64_t(void* buffer, size_t length, uint64_t offset)>;

  // `handle` keeps the library's handle open as long as the device lives; `read` uses it.
  LibraryBlockDevice(uint64_t size, ReadFunction read, std::shared_ptr<void> handle)
      : size_(size), read_(std::move(read)), handle_(std::move(handle)) {}

  uint64_t Size() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t length) override;

 private:
  uint64_t size_;
  ReadFunction read_;
  std::shared_ptr<void> handle_;
  std::mutex mutex_;
};

}  // namespace quarn
