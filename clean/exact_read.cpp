#include "clean/exact_read.h"

#include "engine/file_reads.h"

namespace quarn {

uint32_t ReadFullyAt(File& file, uint64_t offset, void* buffer, uint32_t length) {
  if (offset > static_cast<uint64_t>(INT64_MAX) - length) return 0;
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

}  // namespace quarn
