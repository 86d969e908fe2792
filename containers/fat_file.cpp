#include "containers/fat_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace quarn {
namespace {

constexpr uint64_t kNanosecondsPerSecond = 1000000000;
// Marks an inode made from an entry's place rather than from a cluster number, which has
// at most 28 bits.
constexpr uint64_t kEntryInodeMark = uint64_t{1} << 40;

// Days from 1970-01-01 to a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

}  // namespace

FileTime DosTimeToFileTime(uint16_t date, uint16_t time) {
  const unsigned day = date & 0x1F;
  const unsigned month = date >> 5 & 0x0F;
  const int64_t year = 1980 + (date >> 9);
  const unsigned hours = time >> 11;
  const unsigned minutes = time >> 5 & 0x3F;
  const unsigned seconds = (time & 0x1F) * 2;
  if (day == 0 || month == 0 || month > 12 || hours > 23 || minutes > 59 || seconds > 59) {
    return 0;
  }
  const int64_t total =
      DaysFromCivil(year, month, day) * 86400 + hours * 3600 + minutes * 60 + seconds;
  return total * static_cast<int64_t>(kNanosecondsPerSecond);
}

FileInfo InfoOfRecord(const FatVolume& volume, const DirectoryRecord& record) {
  FileInfo info;
  info.size = record.IsFolder() ? 0 : record.size;
  info.mode = record.IsFolder() ? 0555 : 0444;
  info.device = volume.device_id();
  info.inode =
      record.first_cluster != 0 ? record.first_cluster : kEntryInodeMark | record.entry_offset;
  info.last_write = DosTimeToFileTime(record.write_date, record.write_time);
  info.last_change = info.last_write;
  return info;
}

FileAttributes AttributesOfRecord(const DirectoryRecord& record) {
  return {(record.attributes & kAttributeReadOnly) != 0,
          (record.attributes & kAttributeHidden) != 0, (record.attributes & kAttributeSystem) != 0,
          (record.attributes & kAttributeArchive) != 0};
}

FatFile::FatFile(std::shared_ptr<FatVolume> volume, DirectoryRecord record, std::string inner_path)
    : volume_(std::move(volume)),
      record_(std::move(record)),
      inner_path_(std::move(inner_path)),
      cursor_(*volume_, record_.first_cluster) {
  if (record_.size != 0 && cursor_.faulted()) NoteFault();
}

void FatFile::NoteFault() {
  volume_->ReportDamage(inner_path_);
}

uint32_t FatFile::Read(void* buffer, uint32_t length) {
  const uint32_t cluster_bytes = volume_->geometry().ClusterBytes();
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length && position_ < record_.size) {
    if (!cursor_.MoveTo(position_ / cluster_bytes)) {
      // The entry promises more than the chain holds: the file ends where the chain does.
      NoteFault();
      break;
    }
    if (cursor_.crossed()) NoteFault();
    const uint64_t within = position_ % cluster_bytes;
    const uint64_t step =
        std::min<uint64_t>({length - done, cluster_bytes - within, record_.size - position_});
    const uint64_t offset = volume_->geometry().ClusterOffset(cursor_.cluster()) + within;
    const size_t got = volume_->device().ReadAt(offset, out + done, static_cast<size_t>(step));
    done += static_cast<uint32_t>(got);
    position_ += got;
    if (got != step) {
      NoteFault();
      break;
    }
  }
  return done;
}

std::optional<uint64_t> FatFile::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  if (origin == SeekOrigin::kCurrent) base = static_cast<int64_t>(position_);
  if (origin == SeekOrigin::kEnd) base = static_cast<int64_t>(record_.size);
  if ((offset < 0 && base + offset < 0) ||
      (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)) {
    return std::nullopt;
  }
  position_ = static_cast<uint64_t>(base + offset);
  return position_;
}

std::optional<FileTimes> FatFile::GetTimes() {
  FileTimes times;
  times.last_write = DosTimeToFileTime(record_.write_date, record_.write_time);
  times.last_access = times.last_write;
  return times;
}

std::optional<FileAttributes> FatFile::GetAttributes() {
  return AttributesOfRecord(record_);
}

std::optional<FileInfo> FatFile::GetInfo() {
  return InfoOfRecord(*volume_, record_);
}

}  // namespace quarn
