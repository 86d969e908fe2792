#include "containers/wrappers/unpack_meter.h"

namespace quarn {

void UnpackMeter::SetLimit(Limit limit) {
  const std::lock_guard lock(mutex_);
  limit_ = std::move(limit);
}

std::optional<IncompleteReason> UnpackMeter::Charge(uint64_t bytes) {
  const std::lock_guard lock(mutex_);
  if (!stopped_ && limit_) stopped_ = limit_(bytes);
  return stopped_;
}

std::optional<IncompleteReason> UnpackMeter::Stopped() const {
  const std::lock_guard lock(mutex_);
  return stopped_;
}

size_t MeteredDevice::ReadAt(uint64_t offset, void* buffer, size_t length) {
  const uint64_t size = disk_->Size();
  const uint64_t wanted = offset < size ? std::min<uint64_t>(length, size - offset) : 0;
  if (meter_->Charge(wanted)) return 0;
  return disk_->ReadAt(offset, buffer, length);
}

}  // namespace quarn
