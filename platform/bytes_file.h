#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "platform/read_only_file.h"

namespace quarn {

// A read-only file over bytes in memory, read where they lie: a buffer lent for one scan, a
// boot area handed to a matcher, an archive entry held in memory. `owner`, when given, keeps
// the bytes alive for as long as the file.
class BytesFile : public ReadOnlyFile {
 public:
  explicit BytesFile(std::span<const uint8_t> bytes, std::shared_ptr<const void> owner = nullptr)
      : bytes_(bytes), owner_(std::move(owner)) {}
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
  std::shared_ptr<const void> owner_;
};

}  // namespace quarn
