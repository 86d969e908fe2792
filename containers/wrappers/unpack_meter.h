#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "containers/container.h"
#include "containers/wrappers/read_only_device.h"

namespace quarn {

// What a wrapper that decompresses (a compressed QCOW, a stream-optimized VMDK) may still
// unpack: the scan sets the limit before it reads the disk, and every read of the disk is
// charged to it first. Once the limit refuses a read, every later read is refused for the
// same reason. Safe to use from any thread.
class UnpackMeter {
 public:
  // Whether `bytes` more may be unpacked: nothing to go on, or why not.
  using Limit = std::function<std::optional<IncompleteReason>(uint64_t bytes)>;

  // The limit from now on; none (the default) lets every read through.
  void SetLimit(Limit limit);
  // Charges a read of `bytes`: nothing when it may go on.
  std::optional<IncompleteReason> Charge(uint64_t bytes);
  // Why reads were refused, once one was.
  std::optional<IncompleteReason> Stopped() const;

 private:
  mutable std::mutex mutex_;
  Limit limit_;
  std::optional<IncompleteReason> stopped_;
};

// `disk` read through `meter`: a read the meter refuses reads nothing.
class MeteredDevice : public ReadOnlyDevice {
 public:
  MeteredDevice(std::shared_ptr<BlockDevice> disk, std::shared_ptr<UnpackMeter> meter)
      : disk_(std::move(disk)), meter_(std::move(meter)) {}

  uint64_t Size() const override { return disk_->Size(); }
  size_t ReadAt(uint64_t offset, void* buffer, size_t length) override;

 private:
  std::shared_ptr<BlockDevice> disk_;
  std::shared_ptr<UnpackMeter> meter_;
};

}  // namespace quarn
