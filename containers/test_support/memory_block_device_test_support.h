#pragma once

// A block device over bytes in memory, for tests of the write side: it may refuse writes
// altogether, or fail its Nth write or flush to show what a change cut short leaves.
#include <cstring>
#include <string>
#include <vector>

#include "containers/disks/block_device.h"

namespace quarn::testing {

class MemoryBlockDevice : public BlockDevice {
 public:
  explicit MemoryBlockDevice(std::vector<uint8_t> bytes, bool writable = true)
      : bytes_(std::move(bytes)), writable_(writable) {}

  // Counted from 1; 0 never fails. Every call after the failing one fails too, as a device
  // gone away would.
  void FailWriteNumber(uint64_t number) { fail_write_ = number; }
  void FailFlushNumber(uint64_t number) { fail_flush_ = number; }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  uint64_t writes() const { return writes_; }
  bool failed() const { return failed_; }

  uint64_t Size() const override { return bytes_.size(); }
  size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset >= bytes_.size()) return 0;
    const size_t got = static_cast<size_t>(std::min<uint64_t>(length, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, got);
    return got;
  }
  Status WriteAt(uint64_t offset, const void* buffer, size_t length) override {
    if (!writable_) return Status::Error("memory device: read only");
    ++writes_;
    if (failed_ || (fail_write_ != 0 && writes_ >= fail_write_)) {
      failed_ = true;
      return Status::Error("memory device: write " + std::to_string(writes_) + " failed");
    }
    if (offset > bytes_.size() || length > bytes_.size() - offset) {
      return Status::Error("memory device: write past the end");
    }
    std::memcpy(bytes_.data() + offset, buffer, length);
    return Status::Ok();
  }
  Status Flush() override {
    ++flushes_;
    if (failed_ || (fail_flush_ != 0 && flushes_ >= fail_flush_)) {
      failed_ = true;
      return Status::Error("memory device: flush failed");
    }
    return Status::Ok();
  }
  bool Writable() const override { return writable_; }

 private:
  std::vector<uint8_t> bytes_;
  bool writable_;
  uint64_t fail_write_ = 0;
  uint64_t fail_flush_ = 0;
  uint64_t writes_ = 0;
  uint64_t flushes_ = 0;
  bool failed_ = false;
};

}  // namespace quarn::testing
