#include "containers/wrappers/mapped_block_device.h"

#include <algorithm>
#include <cstring>

namespace quarn {

MappedBlockDevice::MappedBlockDevice(std::shared_ptr<BlockDevice> wrapper, uint64_t size,
                                     uint64_t block_size, std::vector<uint64_t> blocks)
    : wrapper_(std::move(wrapper)),
      size_(size),
      block_size_(block_size),
      blocks_(std::move(blocks)) {}

size_t MappedBlockDevice::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (offset >= size_) return 0;
  const uint64_t wanted = std::min<uint64_t>(length, size_ - offset);
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t done = 0;
  while (done < wanted) {
    const uint64_t position = offset + done;
    const uint64_t index = position / block_size_;
    const uint64_t within = position % block_size_;
    const uint64_t step = std::min(wanted - done, block_size_ - within);
    const uint64_t place = index < blocks_.size() ? blocks_[index] : kZeros;
    if (place == kUnreadable) break;
    if (place == kZeros) {
      std::memset(out + done, 0, step);
    } else if (wrapper_->ReadAt(place + within, out + done, step) != step) {
      break;
    }
    done += step;
  }
  return done;
}

uint64_t CheckedBlock(uint64_t offset, uint64_t length, uint64_t file_size,
                      std::span<const ByteRange> structure) {
  if (offset > file_size || length > file_size - offset) return MappedBlockDevice::kUnreadable;
  for (const ByteRange& range : structure) {
    if (offset < range.offset + range.length && range.offset < offset + length) {
      return MappedBlockDevice::kUnreadable;
    }
  }
  return offset;
}

}  // namespace quarn
