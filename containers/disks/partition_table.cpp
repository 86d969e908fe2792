#include "containers/disks/partition_table.h"

#include <algorithm>
#include <set>

#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr size_t kTableOffset = 0x1BE;
constexpr size_t kSlotSize = 16;
constexpr size_t kSlotBootFlag = 0;
constexpr size_t kSlotType = 4;
constexpr size_t kSlotFirstSector = 8;
constexpr size_t kSlotSectorCount = 12;

struct Slot {
  uint8_t boot_flag = 0;
  uint8_t type = 0;
  uint32_t first = 0;
  uint32_t count = 0;
  bool used() const { return type != 0; }
};

Slot SlotAt(std::span<const uint8_t> sector, int index) {
  const size_t at = kTableOffset + static_cast<size_t>(index) * kSlotSize;
  return {ReadU8(sector, at + kSlotBootFlag), ReadU8(sector, at + kSlotType),
          ReadU32(sector, at + kSlotFirstSector), ReadU32(sector, at + kSlotSectorCount)};
}

// Follows the extended boot records from `extended`, each logical drive relative to its
// record and each next record relative to the extended partition's start.
void ReadLogicalChain(BlockDevice& disk, const Slot& extended, PartitionTable& table,
                      uint32_t& next_number) {
  const uint64_t disk_sectors = disk.Size() / kTableSectorSize;
  std::set<uint64_t> visited;
  uint64_t record = extended.first;
  while (true) {
    if (!visited.insert(record).second) {
      table.damage.push_back({"", IncompleteReason::kDamaged});
      return;
    }
    if (visited.size() > kMaxLogicalPartitions) {
      table.damage.push_back({"", IncompleteReason::kEntries});
      return;
    }
    const std::vector<uint8_t> sector =
        ReadExactly(disk, record * kTableSectorSize, kTableSectorSize);
    if (sector.empty()) {
      table.damage.push_back({"", IncompleteReason::kDamaged});
      return;
    }
    const Slot logical = SlotAt(sector, 0);
    const Slot link = SlotAt(sector, 1);
    if (logical.used() && logical.count != 0) {
      Partition partition{next_number++, logical.type, record + logical.first, logical.count};
      if (partition.first_sector + partition.sector_count > disk_sectors) {
        table.damage.push_back({std::to_string(partition.number), IncompleteReason::kDamaged});
      }
      table.partitions.push_back(partition);
    }
    // An empty link ends the chain; one that names the first record again is a loop.
    if (!IsExtendedPartitionType(link.type) || (link.first == 0 && link.count == 0)) return;
    record = uint64_t{extended.first} + link.first;
  }
}

}  // namespace

bool IsFatPartitionType(uint8_t type) {
  switch (type & 0xEF) {  // the hidden types are the plain ones with bit 4 set
    case 0x01:
    case 0x04:
    case 0x06:
    case 0x0B:
    case 0x0C:
    case 0x0E:
      return true;
    default:
      return false;
  }
}

bool IsHiddenFatPartitionType(uint8_t type) {
  return (type & 0x10) != 0 && IsFatPartitionType(type);
}

bool IsExtendedPartitionType(uint8_t type) {
  return type == 0x05 || type == 0x0F || type == 0x85;
}

bool TableMayHoldFatVolumes(std::span<const uint8_t> sector) {
  if (sector.size() < kTableSectorSize) return false;
  if (sector[510] == 0x55 && sector[511] == 0xAA) return true;
  for (int index = 0; index < 4; ++index) {
    const uint8_t type = sector[kTableOffset + static_cast<size_t>(index) * kSlotSize + kSlotType];
    if (IsFatPartitionType(type) || IsExtendedPartitionType(type)) return true;
  }
  return false;
}

std::optional<PartitionTable> ReadPartitionTable(BlockDevice& disk) {
  const std::vector<uint8_t> sector = ReadExactly(disk, 0, kTableSectorSize);
  if (sector.empty()) return std::nullopt;
  PartitionTable table;
  std::vector<Slot> taken;
  std::vector<std::pair<uint64_t, uint64_t>> extents;
  bool blank = true;
  for (uint32_t index = 0; index < 4; ++index) {
    const Slot slot = SlotAt(sector, static_cast<int>(index));
    const auto bytes = std::span(sector).subspan(kTableOffset + index * kSlotSize, kSlotSize);
    blank = blank && std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
    if (!slot.used()) continue;
    const uint64_t end = uint64_t{slot.first} + slot.count;
    // One odd slot (a stray boot flag, an overlap with an earlier slot) says nothing about
    // the others: a disk is not hidden whole by one slot a tool or a virus spoiled.
    const bool odd = (slot.boot_flag != 0 && slot.boot_flag != 0x80) || slot.first == 0 ||
                     slot.count == 0 ||
                     std::any_of(extents.begin(), extents.end(), [&](const auto& extent) {
                       return slot.first < extent.second && extent.first < end;
                     });
    if (odd) {
      table.damage.push_back({std::to_string(index + 1), IncompleteReason::kDamaged});
      continue;
    }
    extents.emplace_back(slot.first, end);
    taken.push_back(slot);
    if (IsExtendedPartitionType(slot.type)) continue;
    table.partitions.push_back({index + 1, slot.type, slot.first, slot.count});
    if (end > disk.Size() / kTableSectorSize) {
      table.damage.push_back({std::to_string(index + 1), IncompleteReason::kDamaged});
    }
  }
  // Slots that are all odd are bytes of something else; four blank slots are an empty table.
  if (taken.empty() && !blank) return std::nullopt;
  uint32_t next_number = 5;
  for (const Slot& slot : taken) {
    if (IsExtendedPartitionType(slot.type)) ReadLogicalChain(disk, slot, table, next_number);
  }
  return table;
}

std::vector<std::string> LetterPartitions(const std::vector<Partition>& partitions) {
  std::vector<std::string> letters(partitions.size());
  char next = 'C';
  auto give = [&](size_t index) {
    if (next <= 'Z') letters[index] = std::string(1, next++) + ":";
  };
  auto lettered = [&](size_t index) {
    return IsFatPartitionType(partitions[index].type) &&
           !IsHiddenFatPartitionType(partitions[index].type);
  };
  std::optional<size_t> first_primary;
  for (size_t i = 0; i < partitions.size(); ++i) {
    if (!partitions[i].logical() && lettered(i)) {
      first_primary = i;
      break;
    }
  }
  if (first_primary) give(*first_primary);
  for (size_t i = 0; i < partitions.size(); ++i) {
    if (partitions[i].logical() && lettered(i)) give(i);
  }
  for (size_t i = 0; i < partitions.size(); ++i) {
    if (!partitions[i].logical() && lettered(i) && i != first_primary) give(i);
  }
  return letters;
}

}  // namespace quarn
