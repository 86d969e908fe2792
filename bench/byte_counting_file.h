#pragma once

#include <cstdint>
#include <optional>

#include "platform/forwarding_file.h"

namespace quarn::bench {

// A File that passes every call to another one and adds up the bytes its reads deliver, so a
// benchmark can report how much of a file the detectors touched. Does not own `file`.
class ByteCountingFile : public ForwardingFile {
 public:
  explicit ByteCountingFile(File& file) : ForwardingFile(file) {}

  uint64_t bytes_read() const { return bytes_read_; }
  void ResetCount() { bytes_read_ = 0; }

  uint32_t Read(void* buffer, uint32_t length) override;

 private:
  uint64_t bytes_read_ = 0;
};

}  // namespace quarn::bench
