#include "containers/fat/fat_table.h"

#include <algorithm>

#include "platform/byte_reader.h"

namespace quarn {
namespace {

// The boot sector names the FSInfo sector of a FAT32 volume; its counts are hints that a
// reader may take on trust, so a change that cannot keep them right marks them unknown.
constexpr size_t kFsInfoSectorField = 48;
constexpr uint32_t kFsInfoLeadSignature = 0x41615252;
constexpr uint32_t kFsInfoStructSignature = 0x61417272;
constexpr size_t kFsInfoStructSignatureOffset = 484;
constexpr size_t kFsInfoFreeCountOffset = 488;
constexpr uint32_t kUnknownCount = 0xFFFFFFFF;
constexpr size_t kZeroBlockBytes = 64 * 1024;

}  // namespace

std::optional<FatTable> FatTable::Load(FatVolume& volume) {
  FatTable table(volume);
  const FatGeometry& geometry = volume.geometry();
  table.bytes_ =
      ReadExactly(volume.device(), geometry.FatOffset(), static_cast<size_t>(geometry.FatBytes()));
  if (table.bytes_.empty()) return std::nullopt;
  // Every data cluster's entry must lie inside the FAT a change writes.
  if (table.EntryOffset(geometry.cluster_count + 1) + table.EntryWidth() > table.bytes_.size()) {
    return std::nullopt;
  }
  return table;
}

bool FatTable::CopiesAgree(FatVolume& volume) {
  const FatGeometry& geometry = volume.geometry();
  const std::vector<uint8_t> first =
      ReadExactly(volume.device(), geometry.FatOffset(), static_cast<size_t>(geometry.FatBytes()));
  for (uint32_t copy = 1; copy < geometry.fat_count; ++copy) {
    const std::vector<uint8_t> other =
        ReadExactly(volume.device(), geometry.FatOffset() + copy * geometry.FatBytes(),
                    static_cast<size_t>(geometry.FatBytes()));
    if (other != first) return false;
  }
  return !first.empty();
}

size_t FatTable::EntryWidth() const {
  return volume_->geometry().kind == ContainerKind::kFat32 ? 4 : 2;
}

uint64_t FatTable::EntryOffset(uint32_t cluster) const {
  switch (volume_->geometry().kind) {
    case ContainerKind::kFat12:
      return uint64_t{cluster} + cluster / 2;
    case ContainerKind::kFat16:
      return uint64_t{cluster} * 2;
    default:
      return uint64_t{cluster} * 4;
  }
}

uint32_t FatTable::Get(uint32_t cluster) const {
  const uint64_t offset = EntryOffset(cluster);
  switch (volume_->geometry().kind) {
    case ContainerKind::kFat12: {
      const uint32_t value = ReadU16(bytes_, offset);
      return (cluster & 1) ? value >> 4 : value & 0xFFF;
    }
    case ContainerKind::kFat16:
      return ReadU16(bytes_, offset);
    default:
      return ReadU32(bytes_, offset) & 0x0FFFFFFF;
  }
}

uint32_t FatTable::EndMark() const {
  switch (volume_->geometry().kind) {
    case ContainerKind::kFat12:
      return 0xFFF;
    case ContainerKind::kFat16:
      return 0xFFFF;
    default:
      return 0x0FFFFFFF;
  }
}

bool FatTable::IsEnd(uint32_t value) const {
  return value >= (EndMark() & ~uint32_t{7});
}

Status FatTable::Set(uint32_t cluster, uint32_t value) {
  const FatGeometry& geometry = volume_->geometry();
  if (!geometry.IsDataCluster(cluster)) {
    return Status::Error("cluster " + std::to_string(cluster) + " is not a data cluster");
  }
  if (!free_count_forgotten_) {
    if (Status forgotten = ForgetFreeCount(); !forgotten.ok()) return forgotten;
    free_count_forgotten_ = true;
  }
  if (value == 0) volume_->ReleaseClaim(cluster);
  const uint64_t offset = EntryOffset(cluster);
  const size_t width = EntryWidth();
  uint8_t* at = bytes_.data() + offset;
  switch (geometry.kind) {
    case ContainerKind::kFat12: {
      uint16_t both = static_cast<uint16_t>(at[0] | at[1] << 8);
      both = (cluster & 1) ? static_cast<uint16_t>((both & 0x000F) | (value & 0xFFF) << 4)
                           : static_cast<uint16_t>((both & 0xF000) | (value & 0xFFF));
      at[0] = static_cast<uint8_t>(both);
      at[1] = static_cast<uint8_t>(both >> 8);
      break;
    }
    case ContainerKind::kFat16:
      at[0] = static_cast<uint8_t>(value);
      at[1] = static_cast<uint8_t>(value >> 8);
      break;
    default: {
      // The top four bits of a FAT32 entry are reserved and kept as they are.
      const uint32_t kept = ReadU32(bytes_, offset) & 0xF0000000;
      const uint32_t stored = kept | (value & 0x0FFFFFFF);
      for (size_t i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(stored >> (8 * i));
      break;
    }
  }
  for (uint32_t copy = 0; copy < geometry.fat_count; ++copy) {
    const uint64_t where = geometry.FatOffset() + copy * geometry.FatBytes() + offset;
    if (Status written = volume_->device().WriteAt(where, at, width); !written.ok()) {
      return written;
    }
  }
  return Status::Ok();
}

Status FatTable::ForgetFreeCount() {
  const FatGeometry& geometry = volume_->geometry();
  if (geometry.kind != ContainerKind::kFat32) return Status::Ok();
  const std::vector<uint8_t> boot = ReadExactly(volume_->device(), 0, 512);
  const uint16_t sector = ReadU16(boot, kFsInfoSectorField);
  if (sector == 0 || sector >= geometry.reserved_sectors) return Status::Ok();
  const uint64_t offset = uint64_t{sector} * geometry.bytes_per_sector;
  const std::vector<uint8_t> info = ReadExactly(volume_->device(), offset, 512);
  if (ReadU32(info, 0) != kFsInfoLeadSignature ||
      ReadU32(info, kFsInfoStructSignatureOffset) != kFsInfoStructSignature) {
    return Status::Ok();
  }
  // The free count and the next-free hint lie side by side.
  const uint8_t unknown[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  static_assert(sizeof unknown == 2 * sizeof kUnknownCount);
  return volume_->device().WriteAt(offset + kFsInfoFreeCountOffset, unknown, sizeof unknown);
}

std::optional<std::vector<uint32_t>> FatTable::Chain(uint32_t first) const {
  const FatGeometry& geometry = volume_->geometry();
  std::vector<uint32_t> chain;
  std::vector<bool> seen(uint64_t{geometry.cluster_count} + 2, false);
  uint32_t cluster = first;
  for (;;) {
    if (!geometry.IsDataCluster(cluster) || seen[cluster]) return std::nullopt;
    seen[cluster] = true;
    chain.push_back(cluster);
    const uint32_t next = Get(cluster);
    if (IsEnd(next)) return chain;
    cluster = next;
  }
}

bool FatTable::Shared(const std::vector<uint32_t>& chain) const {
  const FatGeometry& geometry = volume_->geometry();
  std::vector<uint8_t> pointed(uint64_t{geometry.cluster_count} + 2, 0);
  for (uint32_t cluster = 2; geometry.IsDataCluster(cluster); ++cluster) {
    const uint32_t next = Get(cluster);
    if (geometry.IsDataCluster(next) && pointed[next] < 2) ++pointed[next];
  }
  // Inside one chain every cluster but the first is pointed at exactly once.
  for (size_t i = 0; i < chain.size(); ++i) {
    if (pointed[chain[i]] != (i == 0 ? 0 : 1)) return true;
  }
  return false;
}

Result<std::vector<uint32_t>> FatTable::TakeFree(size_t count) {
  const std::optional<std::vector<uint32_t>> found = FindFree(count);
  if (!found) return Status::Error("the volume is full");
  const FatGeometry& geometry = volume_->geometry();
  for (uint32_t cluster : *found) {
    if (Status zeroed =
            ZeroBytes(volume_->device(), geometry.ClusterOffset(cluster), geometry.ClusterBytes());
        !zeroed.ok()) {
      return zeroed;
    }
  }
  for (size_t i = found->size(); i-- > 0;) {
    const uint32_t next = i + 1 < found->size() ? (*found)[i + 1] : EndMark();
    if (Status linked = Set((*found)[i], next); !linked.ok()) return linked;
  }
  return *found;
}

std::optional<std::vector<uint32_t>> FatTable::FindFree(size_t count) const {
  const FatGeometry& geometry = volume_->geometry();
  std::vector<uint32_t> found;
  for (uint32_t cluster = 2; found.size() < count && geometry.IsDataCluster(cluster); ++cluster) {
    if (Get(cluster) == 0) found.push_back(cluster);
  }
  if (found.size() < count) return std::nullopt;
  return found;
}

Status ZeroBytes(BlockDevice& device, uint64_t offset, uint64_t length) {
  static const std::vector<uint8_t> zeros(kZeroBlockBytes, 0);
  while (length > 0) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(length, zeros.size()));
    if (Status written = device.WriteAt(offset, zeros.data(), step); !written.ok()) return written;
    offset += step;
    length -= step;
  }
  return Status::Ok();
}

}  // namespace quarn
