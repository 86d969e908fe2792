#include "engine/file_reads.h"

namespace quarn {

uint32_t ReadAt(File& file, int64_t offset, void* buffer, uint32_t length) {
  if (offset < 0 || length == 0) return 0;
  if (!file.Seek(offset, SeekOrigin::kBegin)) return 0;
  return file.Read(buffer, length);
}

}  // namespace quarn
