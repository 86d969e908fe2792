#include "containers/wrappers/qcow_clusters.h"

#include <vector>

#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

constexpr uint64_t kVersionOffset = 4;
constexpr uint64_t kClusterBitsOffset = 20;
constexpr uint64_t kL1SizeOffset = 36;
constexpr uint64_t kL1TableOffset = 40;
constexpr uint64_t kHeaderBytes = 48;
constexpr uint32_t kSmallestClusterBits = 9;
constexpr uint32_t kLargestClusterBits = 21;
constexpr uint64_t kTableOffsetMask = 0x00FFFFFFFFFFFE00;
constexpr uint64_t kCompressedFlag = uint64_t{1} << 62;
// Tables of a disk far larger than the era's (64 KiB clusters map 2 TiB with 32 MiB of
// them); past this the image is taken to hold compressed clusters rather than read further.
constexpr uint64_t kMostTableBytes = uint64_t{32} << 20;

std::optional<std::vector<uint8_t>> Table(File& file, uint64_t offset, uint64_t length,
                                          uint64_t& budget) {
  if (length > budget) return std::nullopt;
  budget -= length;
  std::vector<uint8_t> table(length);
  if (!ReadExactlyAt(file, offset, table)) return std::nullopt;
  return table;
}

}  // namespace

bool MayHoldCompressedClusters(File& qcow) {
  std::vector<uint8_t> header(kHeaderBytes);
  if (!ReadExactlyAt(qcow, 0, header) || ReadBigU32(header, kVersionOffset) < 2) return true;
  const uint32_t cluster_bits = ReadBigU32(header, kClusterBitsOffset);
  if (cluster_bits < kSmallestClusterBits || cluster_bits > kLargestClusterBits) return true;
  uint64_t budget = kMostTableBytes;
  const std::optional<std::vector<uint8_t>> l1 =
      Table(qcow, ReadBigU64(header, kL1TableOffset),
            uint64_t{ReadBigU32(header, kL1SizeOffset)} * 8, budget);
  if (!l1) return true;
  for (uint64_t entry = 0; entry < l1->size(); entry += 8) {
    const uint64_t l2_offset = ReadBigU64(*l1, entry) & kTableOffsetMask;
    if (l2_offset == 0) continue;
    const std::optional<std::vector<uint8_t>> l2 =
        Table(qcow, l2_offset, uint64_t{1} << cluster_bits, budget);
    if (!l2) return true;
    for (uint64_t slot = 0; slot < l2->size(); slot += 8) {
      if ((ReadBigU64(*l2, slot) & kCompressedFlag) != 0) return true;
    }
  }
  return false;
}

}  // namespace quarn
