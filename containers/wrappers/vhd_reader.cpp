#include "containers/wrappers/vhd_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "containers/disks/device_window.h"
#include "containers/wrappers/mapped_block_device.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr uint64_t kSector = 512;

// The footer: 512 bytes at the file's end, big-endian, with a copy at the start of a dynamic
// disk.
constexpr uint64_t kFooterBytes = 512;
constexpr char kFooterCookie[] = "conectix";
constexpr uint64_t kFooterVersionOffset = 12;
constexpr uint32_t kVersionMajor = 1;
constexpr uint64_t kDataOffsetOffset = 16;
constexpr uint64_t kCurrentSizeOffset = 48;
constexpr uint64_t kDiskTypeOffset = 60;
constexpr uint64_t kFooterChecksumOffset = 64;

constexpr uint32_t kTypeFixed = 2;
constexpr uint32_t kTypeDynamic = 3;
constexpr uint32_t kTypeDifferencing = 4;

// The dynamic disk header.
constexpr uint64_t kHeaderBytes = 1024;
constexpr char kHeaderCookie[] = "cxsparse";
constexpr uint64_t kTableOffsetOffset = 16;
constexpr uint64_t kHeaderVersionOffset = 24;
constexpr uint64_t kTableEntriesOffset = 28;
constexpr uint64_t kBlockSizeOffset = 32;
constexpr uint64_t kHeaderChecksumOffset = 36;

constexpr uint32_t kFreeBlock = 0xFFFFFFFF;
// Virtual PC writes 2 MiB blocks; a block past 256 MiB is no VHD's.
constexpr uint64_t kMaxBlockSize = uint64_t{256} << 20;

bool HasCookie(std::span<const uint8_t> bytes, const char* cookie) {
  return BytesEqual(bytes, 0, reinterpret_cast<const uint8_t*>(cookie), std::strlen(cookie));
}

// The ones' complement of the sum of every byte but the check sum's own four.
bool ChecksumHolds(std::span<const uint8_t> bytes, uint64_t checksum_offset) {
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i < checksum_offset || i >= checksum_offset + 4) sum += bytes[i];
  }
  return ~sum == ReadBigU32(bytes, checksum_offset);
}

bool IsFooter(std::span<const uint8_t> footer) {
  return footer.size() == kFooterBytes && HasCookie(footer, kFooterCookie) &&
         ReadBigU32(footer, kFooterVersionOffset) >> 16 == kVersionMajor &&
         ChecksumHolds(footer, kFooterChecksumOffset);
}

std::optional<WrappedDisk> ReadDynamic(const std::shared_ptr<BlockDevice>& file,
                                       std::span<const uint8_t> footer, bool footer_at_end) {
  const uint64_t file_size = file->Size();
  const uint64_t header_offset = ReadBigU64(footer, kDataOffsetOffset);
  if (header_offset > file_size) return std::nullopt;
  const std::vector<uint8_t> header = ReadExactly(*file, header_offset, kHeaderBytes);
  if (header.size() != kHeaderBytes || !HasCookie(header, kHeaderCookie) ||
      ReadBigU32(header, kHeaderVersionOffset) >> 16 != kVersionMajor ||
      !ChecksumHolds(header, kHeaderChecksumOffset)) {
    return std::nullopt;
  }
  const uint64_t table_offset = ReadBigU64(header, kTableOffsetOffset);
  const uint64_t entries = ReadBigU32(header, kTableEntriesOffset);
  const uint64_t block_size = ReadBigU32(header, kBlockSizeOffset);
  const uint64_t disk_size = ReadBigU64(footer, kCurrentSizeOffset);
  if (!std::has_single_bit(block_size) || block_size < kSector || block_size > kMaxBlockSize ||
      entries > kMaxMappedBlocks || disk_size > entries * block_size || table_offset > file_size ||
      entries * 4 > file_size - table_offset) {
    return std::nullopt;
  }
  const std::vector<uint8_t> table = ReadExactly(*file, table_offset, entries * 4);
  if (table.size() != entries * 4) return std::nullopt;

  // Each block starts with a bitmap of its sectors, a whole number of sectors long; the data
  // follows. A dynamic disk's sectors are read whatever the bitmap says, as its writers leave
  // an unmarked sector zero.
  const uint64_t bitmap_bytes = (block_size / kSector / 8 + kSector - 1) / kSector * kSector;
  std::vector<ByteRange> structure = {{header_offset, kHeaderBytes}, {table_offset, entries * 4}};
  if (footer_at_end) structure.push_back({file_size - kFooterBytes, kFooterBytes});
  if (header_offset >= kFooterBytes) structure.push_back({0, kFooterBytes});
  WrappedDisk wrapped{ContainerKind::kVhd, nullptr, {}};
  std::vector<uint64_t> blocks(entries);
  for (uint64_t i = 0; i < entries; ++i) {
    const uint32_t entry = ReadBigU32(table, i * 4);
    if (entry == kFreeBlock) {
      blocks[i] = MappedBlockDevice::kZeros;
      continue;
    }
    const uint64_t start = uint64_t{entry} * kSector;
    blocks[i] = CheckedBlock(start, bitmap_bytes + block_size, file_size, structure);
    if (blocks[i] == MappedBlockDevice::kUnreadable) {
      if (wrapped.damage.empty()) wrapped.damage.push_back({"", IncompleteReason::kDamaged});
    } else {
      blocks[i] += bitmap_bytes;
    }
  }
  wrapped.disk =
      std::make_shared<MappedBlockDevice>(file, disk_size, block_size, std::move(blocks));
  return wrapped;
}

}  // namespace

bool MayBeDynamicVhd(std::span<const uint8_t> head) {
  return HasCookie(head, kFooterCookie);
}

std::optional<WrappedDisk> ReadVhd(const std::shared_ptr<BlockDevice>& file) {
  const uint64_t file_size = file->Size();
  if (file_size < kFooterBytes) return std::nullopt;
  // The footer at the end is the one that counts; a dynamic disk whose end was cut off is
  // still known by the copy at its start.
  std::vector<uint8_t> footer = ReadExactly(*file, file_size - kFooterBytes, kFooterBytes);
  bool at_end = IsFooter(footer);
  if (!at_end) {
    footer = ReadExactly(*file, 0, kFooterBytes);
    if (!IsFooter(footer)) return std::nullopt;
  }
  const uint32_t type = ReadBigU32(footer, kDiskTypeOffset);
  if (type == kTypeDifferencing) return UnsupportedWrapper(ContainerKind::kVhd);
  if (type == kTypeDynamic) return ReadDynamic(file, footer, at_end);
  if (type != kTypeFixed || !at_end) return std::nullopt;
  const uint64_t data_size = file_size - kFooterBytes;
  const uint64_t disk_size = ReadBigU64(footer, kCurrentSizeOffset);
  WrappedDisk wrapped{ContainerKind::kVhd, nullptr, {}};
  // A fixed disk cut short is read as far as it goes.
  if (disk_size > data_size) wrapped.damage.push_back({"", IncompleteReason::kDamaged});
  wrapped.disk = WindowOf(file, 0, std::min(disk_size, data_size));
  return wrapped;
}

}  // namespace quarn
