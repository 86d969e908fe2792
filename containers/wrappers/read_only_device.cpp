#include "containers/wrappers/read_only_device.h"

#include <string>

namespace quarn {

Status ReadOnlyDevice::WriteAt(uint64_t offset, const void* buffer, size_t length) {
  (void)buffer;
  return Status::Error("cannot write " + std::to_string(length) + " bytes at " +
                       std::to_string(offset) + " of a disk inside a wrapper: it is read only");
}

}  // namespace quarn
