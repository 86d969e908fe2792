#include "platform/test_support/in_memory_system_access.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quarn {
namespace {

std::string Call(const char* what, uint16_t cylinder_sector, uint16_t head_drive) {
  char text[32];
  std::snprintf(text, sizeof text, "%s %04X %04X", what, cylinder_sector, head_drive);
  return text;
}

}  // namespace

void InMemorySystemAccess::PutMemory(uint32_t linear_address, std::span<const uint8_t> bytes) {
  const size_t end = static_cast<size_t>(linear_address) + bytes.size();
  if (memory_.size() < end) memory_.resize(end, 0);
  std::copy(bytes.begin(), bytes.end(), memory_.begin() + linear_address);
}

void InMemorySystemAccess::AddDrive(uint8_t drive) {
  drives_.insert(drive);
  unopenable_drives_.erase(drive);
  forced_write_results_.erase(drive);
  std::erase_if(sectors_, [drive](const auto& entry) {
    return static_cast<uint8_t>(entry.first >> 16) == drive;
  });
}

std::array<uint8_t, kSectorSize>& InMemorySystemAccess::SectorAt(uint8_t drive, uint8_t cylinder,
                                                                 uint8_t head, uint8_t sector) {
  const uint16_t cylinder_sector = static_cast<uint16_t>(cylinder << 8 | sector);
  const uint16_t head_drive = static_cast<uint16_t>(head << 8 | drive);
  return sectors_.try_emplace(SectorKey(cylinder_sector, head_drive)).first->second;
}

void InMemorySystemAccess::PutSector(uint16_t cylinder_sector, uint16_t head_drive,
                                     std::span<const uint8_t, kSectorSize> bytes) {
  std::array<uint8_t, kSectorSize>& stored = sectors_[SectorKey(cylinder_sector, head_drive)];
  std::copy(bytes.begin(), bytes.end(), stored.begin());
}

std::optional<std::array<uint8_t, kSectorSize>> InMemorySystemAccess::Sector(
    uint16_t cylinder_sector, uint16_t head_drive) const {
  auto found = sectors_.find(SectorKey(cylinder_sector, head_drive));
  if (found == sectors_.end()) return std::nullopt;
  return found->second;
}

bool InMemorySystemAccess::HasSectors(uint8_t drive) {
  return drives_.count(drive) != 0;
}

bool InMemorySystemAccess::CallReadPhysicalSector1(uint16_t cylinder_sector, uint16_t head_drive,
                                                   std::span<uint8_t, kSectorSize> sector) {
  ++sector_reads_;
  calls.push_back(Call("read", cylinder_sector, head_drive));
  const uint8_t drive = static_cast<uint8_t>(head_drive);
  if (!HasSectors(drive) || unopenable_drives_.count(drive) != 0) return false;
  auto found = sectors_.find(SectorKey(cylinder_sector, head_drive));
  if (found == sectors_.end()) {
    std::fill(sector.begin(), sector.end(), 0);
  } else {
    std::copy(found->second.begin(), found->second.end(), sector.begin());
  }
  return true;
}

SectorWriteResult InMemorySystemAccess::CallWritePhysicalSector1(
    uint16_t cylinder_sector, uint16_t head_drive, std::span<const uint8_t, kSectorSize> sector) {
  calls.push_back(Call("write", cylinder_sector, head_drive));
  SectorWrite write{cylinder_sector, head_drive, {}};
  std::copy(sector.begin(), sector.end(), write.bytes.begin());
  sector_writes_.push_back(write);
  const uint8_t drive = static_cast<uint8_t>(head_drive);
  auto forced = forced_write_results_.find(drive);
  if (forced != forced_write_results_.end()) return forced->second;
  if (!HasSectors(drive) || unopenable_drives_.count(drive) != 0) {
    return SectorWriteResult::kCannotOpen;
  }
  PutSector(cylinder_sector, head_drive, sector);
  return SectorWriteResult::kWritten;
}

void InMemorySystemAccess::CopyMemDos(uint16_t segment, uint16_t offset,
                                      std::span<uint8_t> destination) {
  memory_reads_.push_back({segment, offset, destination.size()});
  const size_t start = static_cast<size_t>(segment) * 16 + offset;
  const size_t available = start < memory_.size() ? memory_.size() - start : 0;
  const size_t copied = std::min(available, destination.size());
  if (copied > 0) std::memcpy(destination.data(), memory_.data() + start, copied);
  std::memset(destination.data() + copied, 0, destination.size() - copied);
}

bool InMemorySystemAccess::DosMemoryIsZero(uint16_t segment, uint16_t offset, size_t length) {
  ++zero_memory_queries_;
  if (!tells_zero_memory_) return false;
  const size_t start = static_cast<size_t>(segment) * 16 + offset;
  if (start >= memory_.size()) return true;
  const auto end =
      memory_.begin() + static_cast<ptrdiff_t>(std::min(memory_.size(), start + length));
  return std::all_of(memory_.begin() + static_cast<ptrdiff_t>(start), end,
                     [](uint8_t byte) { return byte == 0; });
}

}  // namespace quarn
