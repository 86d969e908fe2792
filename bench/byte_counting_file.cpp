#include "bench/byte_counting_file.h"

namespace quarn::bench {

uint32_t ByteCountingFile::Read(void* buffer, uint32_t length) {
  uint32_t read = ForwardingFile::Read(buffer, length);
  bytes_read_ += read;
  return read;
}

}  // namespace quarn::bench
