#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "containers/wrappers/read_only_device.h"

namespace quarn {

// A disk whose sectors lie in blocks of one size scattered over a wrapper file, in the order
// its block map gives.
class MappedBlockDevice : public ReadOnlyDevice {
 public:
  // A block never written reads as zeros; one whose map entry is damaged cannot be read (a
  // read stops short before it).
  static constexpr uint64_t kZeros = ~uint64_t{0};
  static constexpr uint64_t kUnreadable = ~uint64_t{0} - 1;

  // `blocks[i]` is where block i's bytes start in `wrapper`, or one of the two above; a
  // block past the map's end reads as zeros.
  MappedBlockDevice(std::shared_ptr<BlockDevice> wrapper, uint64_t size, uint64_t block_size,
                    std::vector<uint64_t> blocks);

  uint64_t Size() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t length) override;

 private:
  std::shared_ptr<BlockDevice> wrapper_;
  uint64_t size_;
  uint64_t block_size_;
  std::vector<uint64_t> blocks_;
};

// Bytes of a wrapper file that hold its own structure (headers, the block map).
struct ByteRange {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// A map entry checked: the block's `length` bytes at `offset` must lie inside the wrapper's
// `file_size` bytes and clear of every range in `structure`, or the entry is damaged and
// kUnreadable is returned.
uint64_t CheckedBlock(uint64_t offset, uint64_t length, uint64_t file_size,
                      std::span<const ByteRange> structure);

// The most blocks a map may have: 16 MiB of map in memory, more than any disk of the DOS and
// Windows 9x era needs at the wrappers' usual block sizes (2 TiB at 1 MiB).
inline constexpr uint64_t kMaxMappedBlocks = uint64_t{1} << 21;

}  // namespace quarn
