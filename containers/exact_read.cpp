#include "containers/exact_read.h"

namespace quarn {

bool ReadExactlyAt(File& file, uint64_t offset, std::span<uint8_t> into) {
  if (file.Seek(static_cast<int64_t>(offset), SeekOrigin::kBegin) != offset) return false;
  size_t filled = 0;
  while (filled < into.size()) {
    const uint32_t got =
        file.Read(into.data() + filled, static_cast<uint32_t>(into.size() - filled));
    if (got == 0) return false;
    filled += got;
  }
  return true;
}

}  // namespace quarn
