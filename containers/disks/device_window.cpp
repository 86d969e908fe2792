#include "containers/disks/device_window.h"

#include <algorithm>
#include <string>

namespace quarn {
namespace {

class DeviceWindow : public BlockDevice {
 public:
  DeviceWindow(std::shared_ptr<BlockDevice> device, uint64_t base, uint64_t length)
      : device_(std::move(device)), base_(base), length_(length) {}

  uint64_t Size() const override { return length_; }

  size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset >= length_) return 0;
    return device_->ReadAt(base_ + offset, buffer, std::min<uint64_t>(length, length_ - offset));
  }

  Status WriteAt(uint64_t offset, const void* buffer, size_t length) override {
    if (offset > length_ || length > length_ - offset) {
      return Status::Error("cannot write " + std::to_string(length) + " bytes at " +
                           std::to_string(offset) + " of a window of " + std::to_string(length_) +
                           " bytes: past its end");
    }
    return device_->WriteAt(base_ + offset, buffer, length);
  }

  Status Flush() override { return device_->Flush(); }
  bool Writable() const override { return device_->Writable(); }

 private:
  std::shared_ptr<BlockDevice> device_;
  uint64_t base_;
  uint64_t length_;
};

}  // namespace

std::shared_ptr<BlockDevice> WindowOf(std::shared_ptr<BlockDevice> device, uint64_t offset,
                                      uint64_t length) {
  const uint64_t size = device->Size();
  const uint64_t start = std::min(offset, size);
  return std::make_shared<DeviceWindow>(std::move(device), start, std::min(length, size - start));
}

}  // namespace quarn
