#include "containers/wrappers/library_block_device.h"

#include <algorithm>

namespace quarn {

// The libraries read a whole request or fail; asked in pieces, a damaged piece costs only
// itself.
constexpr size_t kLibraryReadBytes = size_t{1} << 20;

size_t LibraryBlockDevice::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (offset >= size_) return 0;
  const uint64_t wanted = std::min<uint64_t>(length, size_ - offset);
  auto* out = static_cast<uint8_t*>(buffer);
  std::lock_guard lock(mutex_);
  uint64_t done = 0;
  while (done < wanted) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(wanted - done, kLibraryReadBytes));
    const int64_t got = read_(out + done, step, offset + done);
    if (got <= 0) break;
    done += static_cast<uint64_t>(got);
    if (static_cast<size_t>(got) < step) break;
  }
  return done;
}

}  // namespace quarn
