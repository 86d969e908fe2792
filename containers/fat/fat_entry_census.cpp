#include "containers/fat/fat_entry_census.h"

#include <unordered_set>
#include <utility>
#include <vector>

#include "containers/fat/fat_directory.h"
#include "containers/fat/fat_entry_layout.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

using namespace fat_entry;

// Every folder of a volume together holds at most this many entries before the census
// gives up: a walk of a crafted volume must end.
constexpr uint64_t kMaxVolumeSlots = uint64_t{kMaxDirectorySlots} * 4;

}  // namespace

std::optional<std::unordered_map<uint32_t, uint32_t>> CountEntryStarts(FatVolume& volume,
                                                                       const FatTable& table) {
  const FatGeometry& geometry = volume.geometry();
  std::unordered_map<uint32_t, uint32_t> starts;
  std::vector<std::pair<uint32_t, bool>> pending;
  if (geometry.kind == ContainerKind::kFat32) {
    ++starts[geometry.root_cluster];
    pending.emplace_back(geometry.root_cluster, false);
  } else {
    pending.emplace_back(0, true);
  }
  std::unordered_set<uint32_t> folders_seen;
  uint64_t slots_seen = 0;
  while (!pending.empty()) {
    const auto [first, fixed_root] = pending.back();
    pending.pop_back();
    std::vector<std::pair<uint64_t, uint64_t>> regions;  // offset, length
    if (fixed_root) {
      regions.emplace_back(geometry.RootOffset(), geometry.RootBytes());
    } else {
      if (!folders_seen.insert(first).second) continue;
      const std::optional<std::vector<uint32_t>> chain = table.Chain(first);
      if (!chain) return std::nullopt;
      for (uint32_t cluster : *chain) {
        regions.emplace_back(geometry.ClusterOffset(cluster), geometry.ClusterBytes());
      }
    }
    bool ended = false;
    for (const auto& [offset, length] : regions) {
      if (ended) break;
      const std::vector<uint8_t> bytes =
          ReadExactly(volume.device(), offset, static_cast<size_t>(length));
      if (bytes.empty()) return std::nullopt;
      for (size_t at = 0; at + kSlotBytes <= bytes.size() && !ended; at += kSlotBytes) {
        if (++slots_seen > kMaxVolumeSlots) return std::nullopt;
        const std::span<const uint8_t> slot(bytes.data() + at, kSlotBytes);
        const uint8_t attributes = slot[kAttributesOffset];
        if (slot[0] == kEndMark) {
          ended = true;
        } else if (slot[0] == kDeletedMark || slot[0] == '.' ||
                   (attributes & 0x3F) == kLongNameAttributes ||
                   (attributes & kAttributeVolumeLabel)) {
          continue;
        } else {
          const uint32_t cluster = static_cast<uint32_t>(ReadU16(slot, kClusterHighOffset)) << 16 |
                                   ReadU16(slot, kClusterLowOffset);
          if (cluster == 0) continue;
          ++starts[cluster];
          if (attributes & kAttributeFolder) pending.emplace_back(cluster, false);
        }
      }
    }
  }
  return starts;
}

}  // namespace quarn
