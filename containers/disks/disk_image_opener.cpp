#include "containers/disks/disk_image_opener.h"

#include <algorithm>

#include "containers/disks/device_window.h"
#include "containers/disks/file_block_device.h"
#include "containers/disks/partition_table.h"
#include "containers/fat/fat_file_system.h"
#include "containers/fat/fat_geometry.h"

namespace quarn {
namespace {

constexpr size_t kBootSectorBytes = 512;
constexpr size_t kBootMarkOffset = 510;  // 55 AA

std::optional<ContainerVolume> OpenVolume(const std::shared_ptr<BlockDevice>& device) {
  std::optional<FatGeometry> geometry = RecognizeFat(*device);
  if (!geometry) return std::nullopt;
  ContainerVolume volume;
  volume.kind = geometry->kind;
  volume.boot_sector = ReadExactly(*device, 0, kBootSectorBytes);
  volume.files = std::make_unique<FatFileSystem>(device, *geometry);
  return volume;
}

// Whether the table already names `number` as damaged: a partition past the disk's end is
// said once, though its volume then fails to open as well.
bool Reported(const std::vector<ContainerDamage>& damage, const std::string& number) {
  return std::find(damage.begin(), damage.end(),
                   ContainerDamage{number, IncompleteReason::kDamaged}) != damage.end();
}

std::optional<OpenedContainer> OpenPartitioned(const std::shared_ptr<BlockDevice>& disk) {
  std::optional<PartitionTable> table = ReadPartitionTable(*disk);
  if (!table) return std::nullopt;
  OpenedContainer opened;
  opened.kind = ContainerKind::kMbr;
  opened.boot_record = ReadExactly(*disk, 0, kBootSectorBytes);
  opened.damage = table->damage;
  const std::vector<std::string> letters = LetterPartitions(table->partitions);
  std::vector<std::pair<std::string, ContainerVolume>> lettered;
  for (size_t i = 0; i < table->partitions.size(); ++i) {
    const Partition& partition = table->partitions[i];
    if (!IsFatPartitionType(partition.type)) continue;
    std::optional<ContainerVolume> volume =
        OpenVolume(WindowOf(disk, partition.first_sector * kTableSectorSize,
                            partition.sector_count * kTableSectorSize));
    const std::string number = std::to_string(partition.number);
    if (!volume) {
      if (!Reported(opened.damage, number)) {
        opened.damage.push_back({number, IncompleteReason::kDamaged});
      }
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
  return opened;
}

bool Marked(std::span<const uint8_t> sector) {
  return sector.size() >= kBootSectorBytes && sector[kBootMarkOffset] == 0x55 &&
         sector[kBootMarkOffset + 1] == 0xAA;
}

// A boot sector that no FAT volume follows: a sane parameter block whose FAT does not check
// out, or the 55 AA mark on a file of a standard floppy's size (a boot virus may overwrite
// the parameter block, and DOS 1.x wrote none).
std::optional<OpenedContainer> OpenBootSectorOnly(BlockDevice& disk) {
  std::vector<uint8_t> sector = ReadExactly(disk, 0, kBootSectorBytes);
  std::optional<FatGeometry> geometry = ParameterBlockGeometry(sector);
  if (!geometry && Marked(sector)) geometry = StandardFloppyGeometry(disk.Size());
  if (!geometry) return std::nullopt;
  OpenedContainer opened;
  opened.kind = geometry->kind;
  opened.boot_record = std::move(sector);
  return opened;
}

}  // namespace

bool DiskImageOpener::MayOpen(std::span<const uint8_t> head, uint64_t size) const {
  if (size < kBootSectorBytes || head.size() < kBootSectorBytes) return false;
  // What Open needs before it reads past the first sector: a sane parameter block, or the
  // size of a standard floppy, or a partition table that is marked or names a partition
  // that may hold a FAT volume.
  if (ParameterBlockGeometry(head.first(kBootSectorBytes)) || StandardFloppyGeometry(size)) {
    return true;
  }
  return TableMayHoldFatVolumes(head.first(kBootSectorBytes));
}

std::optional<OpenedContainer> DiskImageOpener::Open(std::shared_ptr<File> file) {
  if (!file) return std::nullopt;
  if (access_ == DiskImageAccess::kReadWrite) {
    return OpenDisk(FileBlockDevice::OpenWritable(std::move(file)));
  }
  return OpenDisk(FileBlockDevice::Open(std::move(file)));
}

std::optional<OpenedContainer> OpenDisk(std::shared_ptr<BlockDevice> disk) {
  if (disk->Size() < kBootSectorBytes) return std::nullopt;
  if (std::optional<ContainerVolume> volume = OpenVolume(disk)) {
    OpenedContainer opened;
    opened.kind = volume->kind;
    volume->letter = "A:";
    opened.volumes.push_back(std::move(*volume));
    return opened;
  }
  std::optional<OpenedContainer> partitioned = OpenPartitioned(disk);
  if (partitioned && !partitioned->volumes.empty()) return partitioned;
  // No volume to read: the first sector alone makes the file an image, a volume's boot
  // sector before a master boot record, whose empty or foreign table needs the mark.
  if (std::optional<OpenedContainer> boot_sector = OpenBootSectorOnly(*disk)) return boot_sector;
  if (partitioned && Marked(partitioned->boot_record)) return partitioned;
  return std::nullopt;
}

}  // namespace quarn
