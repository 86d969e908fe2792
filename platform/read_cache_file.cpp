#include "platform/read_cache_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quarn {

const ReadCacheFile::Block* ReadCacheFile::Fetch(uint64_t index) {
  Block* oldest = &blocks_[0];
  for (Block& block : blocks_) {
    if (block.index == index) {
      block.last_use = ++clock_;
      return &block;
    }
    if (block.last_use < oldest->last_use) oldest = &block;
  }
  const uint64_t offset = index * kBlockSize;
  if (offset > static_cast<uint64_t>(INT64_MAX)) return nullptr;
  ++underlying_reads_;
  if (!file_.Seek(static_cast<int64_t>(offset), SeekOrigin::kBegin)) return nullptr;
  oldest->index = UINT64_MAX;
  // A file may deliver less than asked before its end; only "nothing" means the end.
  oldest->filled = 0;
  while (oldest->filled < kBlockSize) {
    const uint32_t got =
        file_.Read(oldest->bytes.data() + oldest->filled, kBlockSize - oldest->filled);
    if (got == 0) break;
    oldest->filled += got;
  }
  if (oldest->filled == 0) return nullptr;
  oldest->index = index;
  oldest->last_use = ++clock_;
  return oldest;
}

uint32_t ReadCacheFile::Read(void* buffer, uint32_t length) {
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    const uint64_t at = position_ + done;
    const Block* block = Fetch(at / kBlockSize);
    if (block == nullptr) break;
    const uint32_t within = static_cast<uint32_t>(at % kBlockSize);
    if (within >= block->filled) break;
    const uint32_t piece = std::min(length - done, block->filled - within);
    std::memcpy(out + done, block->bytes.data() + within, piece);
    done += piece;
    if (block->filled < kBlockSize) break;  // the file ends in this block
  }
  position_ += done;
  return done;
}

std::optional<uint64_t> ReadCacheFile::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case SeekOrigin::kBegin:
      break;
    case SeekOrigin::kCurrent:
      base = static_cast<int64_t>(position_);
      break;
    case SeekOrigin::kEnd: {
      const std::optional<uint64_t> size = Size();
      if (!size) return std::nullopt;
      base = static_cast<int64_t>(*size);
      break;
    }
  }
  int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return std::nullopt;
  position_ = static_cast<uint64_t>(target);
  return position_;
}

std::optional<uint64_t> ReadCacheFile::Size() {
  if (!size_) size_ = file_.Size();
  return *size_;
}

}  // namespace quarn
