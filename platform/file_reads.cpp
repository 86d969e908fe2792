#include "platform/file_reads.h"

#include <limits>

namespace quarn {

uint32_t ReadAt(File& file, int64_t offset, void* buffer, uint32_t length) {
  if (offset < 0 || length == 0) return 0;
  if (!file.Seek(offset, SeekOrigin::kBegin)) return 0;
  return file.Read(buffer, length);
}

uint32_t ReadFullyAt(File& file, uint64_t offset, void* buffer, uint32_t length) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - length) return 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    const uint32_t read =
        ReadAt(file, static_cast<int64_t>(offset + done), bytes + done, length - done);
    if (read == 0) break;
    done += read;
  }
  return done;
}

bool ReadExactlyAt(File& file, uint64_t offset, std::span<uint8_t> into) {
  if (into.size() > std::numeric_limits<uint32_t>::max()) return false;
  const auto length = static_cast<uint32_t>(into.size());
  return ReadFullyAt(file, offset, into.data(), length) == length;
}

}  // namespace quarn
