#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform/read_only_file.h"

namespace quarn {

// Bytes the caller lends for the length of one scan, read in place: a buffer handed to the
// library is never copied, however large.
class BorrowedBytesFile : public ReadOnlyFile {
 public:
  explicit BorrowedBytesFile(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint32_t Read(void* buffer, uint32_t length) override {
    if (position_ >= bytes_.size()) return 0;
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(length, bytes_.size() - position_));
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return count;
  }
  std::optional<uint64_t> Size() override { return bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
};

}  // namespace quarn
