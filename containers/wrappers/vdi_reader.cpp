#include "containers/wrappers/vdi_reader.h"

#include <bit>

#include "containers/wrappers/mapped_block_device.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

// The header, after a free text of 64 bytes that every writer words its own way.
constexpr uint64_t kHeaderBytes = 512;
constexpr uint64_t kSignatureOffset = 0x40;
constexpr uint32_t kSignature = 0xBEDA107F;
constexpr uint64_t kVersionOffset = 0x44;
constexpr uint32_t kVersionMajor = 1;
constexpr uint64_t kTypeOffset = 0x4C;
constexpr uint64_t kMapOffsetOffset = 0x154;
constexpr uint64_t kDataOffsetOffset = 0x158;
constexpr uint64_t kDiskSizeOffset = 0x170;
constexpr uint64_t kBlockSizeOffset = 0x178;
constexpr uint64_t kBlockExtraOffset = 0x17C;
constexpr uint64_t kBlockCountOffset = 0x180;

constexpr uint32_t kTypeNormal = 1;
constexpr uint32_t kTypeFixed = 2;
constexpr uint32_t kTypeUndo = 3;
constexpr uint32_t kTypeDifferencing = 4;

// Map entries for blocks that hold no data: never written, and written as zeros.
constexpr uint32_t kFreeBlock = 0xFFFFFFFF;
constexpr uint32_t kZeroBlock = 0xFFFFFFFE;

constexpr uint64_t kSector = 512;
// VirtualBox writes 1 MiB blocks; a block past 256 MiB is no VDI's.
constexpr uint64_t kMaxBlockSize = uint64_t{256} << 20;

}  // namespace

bool MayBeVdi(std::span<const uint8_t> head) {
  return ReadU32(head, kSignatureOffset) == kSignature &&
         ReadU32(head, kVersionOffset) >> 16 == kVersionMajor;
}

std::optional<WrappedDisk> ReadVdi(const std::shared_ptr<BlockDevice>& file) {
  const std::vector<uint8_t> header = ReadExactly(*file, 0, kHeaderBytes);
  if (!MayBeVdi(header)) return std::nullopt;
  const uint32_t type = ReadU32(header, kTypeOffset);
  if (type == kTypeUndo || type == kTypeDifferencing)
    return UnsupportedWrapper(ContainerKind::kVdi);
  if (type != kTypeNormal && type != kTypeFixed) return std::nullopt;

  const uint64_t file_size = file->Size();
  const uint64_t map_offset = ReadU32(header, kMapOffsetOffset);
  const uint64_t data_offset = ReadU32(header, kDataOffsetOffset);
  const uint64_t disk_size = ReadU64(header, kDiskSizeOffset);
  const uint64_t block_size = ReadU32(header, kBlockSizeOffset);
  const uint64_t block_extra = ReadU32(header, kBlockExtraOffset);
  const uint64_t block_count = ReadU32(header, kBlockCountOffset);
  if (!std::has_single_bit(block_size) || block_size < kSector || block_size > kMaxBlockSize ||
      block_extra > block_size || block_count > kMaxMappedBlocks ||
      disk_size > block_count * block_size || map_offset < kHeaderBytes || map_offset > file_size ||
      block_count * 4 > file_size - map_offset || data_offset > file_size) {
    return std::nullopt;
  }
  const std::vector<uint8_t> map = ReadExactly(*file, map_offset, block_count * 4);
  if (map.size() != block_count * 4) return std::nullopt;

  WrappedDisk wrapped{ContainerKind::kVdi, nullptr, {}};
  const ByteRange structure[] = {{0, kHeaderBytes}, {map_offset, block_count * 4}};
  std::vector<uint64_t> blocks(block_count);
  for (uint64_t i = 0; i < block_count; ++i) {
    const uint32_t entry = ReadU32(map, i * 4);
    if (entry == kFreeBlock || entry == kZeroBlock) {
      blocks[i] = MappedBlockDevice::kZeros;
      continue;
    }
    const uint64_t start = data_offset + entry * (block_size + block_extra) + block_extra;
    blocks[i] = CheckedBlock(start, block_size, file_size, structure);
    if (blocks[i] == MappedBlockDevice::kUnreadable && wrapped.damage.empty()) {
      wrapped.damage.push_back({"", IncompleteReason::kDamaged});
    }
  }
  wrapped.disk =
      std::make_shared<MappedBlockDevice>(file, disk_size, block_size, std::move(blocks));
  return wrapped;
}

}  // namespace quarn
