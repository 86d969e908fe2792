#include "containers/disk_image_opener.h"

#include <algorithm>

#include "containers/fat_file_system.h"
#include "containers/fat_geometry.h"
#include "containers/file_block_device.h"
#include "containers/partition_table.h"

namespace quarn {
namespace {

constexpr size_t kBootSectorBytes = 512;

std::optional<ContainerVolume> OpenVolume(const std::shared_ptr<FileBlockDevice>& device) {
  std::optional<FatGeometry> geometry = RecognizeFat(*device);
  if (!geometry) return std::nullopt;
  ContainerVolume volume;
  volume.kind = geometry->kind;
  volume.boot_sector = ReadExactly(*device, 0, kBootSectorBytes);
  volume.files = std::make_unique<FatFileSystem>(device, *geometry);
  return volume;
}

std::optional<OpenedContainer> OpenPartitioned(const std::shared_ptr<FileBlockDevice>& disk) {
  std::optional<PartitionTable> table = ReadPartitionTable(*disk);
  if (!table) return std::nullopt;
  OpenedContainer opened;
  opened.kind = ContainerKind::kMbr;
  opened.master_boot_record = ReadExactly(*disk, 0, kBootSectorBytes);
  opened.damage = table->damage;
  const std::vector<std::string> letters = LetterPartitions(table->partitions);
  std::vector<std::pair<std::string, ContainerVolume>> lettered;
  for (size_t i = 0; i < table->partitions.size(); ++i) {
    const Partition& partition = table->partitions[i];
    if (!IsFatPartitionType(partition.type)) continue;
    std::optional<ContainerVolume> volume = OpenVolume(disk->Window(
        partition.first_sector * kTableSectorSize, partition.sector_count * kTableSectorSize));
    if (!volume) {
      opened.damage.push_back({std::to_string(partition.number), IncompleteReason::kDamaged});
      continue;
    }
    volume->letter = letters[i];
    volume->partition_number = partition.number;
    lettered.emplace_back(letters[i], std::move(*volume));
  }
  // Letters sort as drives do ("C:" < "D:"); an unlettered volume goes last.
  std::stable_sort(lettered.begin(), lettered.end(), [](const auto& a, const auto& b) {
    if (a.first.empty() != b.first.empty()) return b.first.empty();
    return a.first < b.first;
  });
  for (auto& [letter, volume] : lettered) opened.volumes.push_back(std::move(volume));
  // A table without a single FAT volume is a disk this program has nothing to read in,
  // unless it carries the mark every partitioned disk has.
  const bool marked =
      opened.master_boot_record[510] == 0x55 && opened.master_boot_record[511] == 0xAA;
  if (opened.volumes.empty() && !marked) return std::nullopt;
  return opened;
}

}  // namespace

bool DiskImageOpener::MayOpen(std::span<const uint8_t> head, uint64_t size) const {
  if (size < kBootSectorBytes || head.size() < kBootSectorBytes) return false;
  // What Open needs before it reads past the first sector: a sane parameter block, or the
  // size of a standard floppy, or a partition table that is marked or names a partition
  // that may hold a FAT volume.
  if (FatParameterBlockIsSane(head.first(kBootSectorBytes)) || StandardFloppyGeometry(size)) {
    return true;
  }
  return TableMayHoldFatVolumes(head.first(kBootSectorBytes));
}

std::optional<OpenedContainer> DiskImageOpener::Open(std::shared_ptr<File> file) {
  if (!file) return std::nullopt;
  std::shared_ptr<FileBlockDevice> disk = access_ == DiskImageAccess::kReadWrite
                                              ? FileBlockDevice::OpenWritable(std::move(file))
                                              : FileBlockDevice::Open(std::move(file));
  if (disk->Size() < kBootSectorBytes) return std::nullopt;
  if (std::optional<ContainerVolume> volume = OpenVolume(disk)) {
    OpenedContainer opened;
    opened.kind = volume->kind;
    volume->letter = "A:";
    opened.volumes.push_back(std::move(*volume));
    return opened;
  }
  return OpenPartitioned(disk);
}

}  // namespace quarn
