#include "containers/fat/fat_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "containers/fat/fat_directory_editor.h"
#include "containers/fat/fat_file_editor.h"
#include "containers/fat/fat_table.h"

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

// The proleptic Gregorian date of a day counted from 1970-01-01.
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned month_index = (5 * day_of_year + 2) / 153;
  day = day_of_year - (153 * month_index + 2) / 5 + 1;
  month = month_index < 10 ? month_index + 3 : month_index - 9;
  year = static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2);
}

}  // namespace

std::optional<DosTime> FileTimeToDosTime(FileTime time) {
  const int64_t seconds_total = time >= 0
                                    ? time / static_cast<int64_t>(kNanosecondsPerSecond)
                                    : -((-time + static_cast<int64_t>(kNanosecondsPerSecond) - 1) /
                                        static_cast<int64_t>(kNanosecondsPerSecond));
  const int64_t days =
      seconds_total >= 0 ? seconds_total / 86400 : -((-seconds_total + 86399) / 86400);
  const int64_t of_day = seconds_total - days * 86400;
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, year, month, day);
  if (year < 1980 || year > 2107) return std::nullopt;
  DosTime dos;
  dos.date = static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
  dos.time = static_cast<uint16_t>(of_day / 3600 << 11 | (of_day / 60 % 60) << 5 | of_day % 60 / 2);
  return dos;
}

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
  // Only a writable volume lets the owner write; the read-only attribute takes that back.
  const bool may_write = volume.device().Writable() && !(record.attributes & kAttributeReadOnly);
  info.mode = (record.IsFolder() ? 0555 : 0444) | (may_write ? 0200 : 0);
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

FatFile::FatFile(std::shared_ptr<FatVolume> volume, DirectoryRecord record, std::string inner_path,
                 bool writable)
    : volume_(std::move(volume)),
      record_(std::move(record)),
      inner_path_(std::move(inner_path)),
      writable_(writable) {
  cursor_.emplace(*volume_, record_.first_cluster);
  if (record_.size != 0 && cursor_->faulted()) NoteFault();
}

bool FatFile::Change(const std::function<Status(FatFileEditor&)>& change) {
  if (!writable_) return false;
  std::lock_guard lock(volume_->change_mutex());
  if (volume_->WriteRefusal()) return false;
  std::optional<FatTable> table = FatTable::Load(*volume_);
  if (!table) return false;
  FatFileEditor editor(*volume_, *table, record_);
  // OpenFile checked every entry of the volume before it handed out this handle.
  bool done = !editor.Refusal(/*every_entry=*/false) && change(editor).ok();
  // The cursor's FAT block may show links the change rewrote.
  cursor_.emplace(*volume_, record_.first_cluster);
  return done;
}

uint32_t FatFile::Write(const void* buffer, uint32_t length) {
  const bool done = Change([&](FatFileEditor& editor) {
    return editor.Write(position_, static_cast<const uint8_t*>(buffer), length);
  });
  if (!done) return 0;
  position_ += length;
  return length;
}

bool FatFile::SetEndOfFile() {
  return Change([&](FatFileEditor& editor) { return editor.Resize(position_); });
}

bool FatFile::Flush() {
  if (!writable_) return true;
  return volume_->device().Flush().ok();
}

bool FatFile::SetTimes(const FileTimes& times) {
  if (!writable_) return false;
  const std::optional<DosTime> dos = FileTimeToDosTime(times.last_write);
  if (!dos) return false;
  std::lock_guard lock(volume_->change_mutex());
  if (volume_->WriteRefusal()) return false;
  if (!WriteEntryWriteTime(volume_->device(), record_.entry_offset, dos->time, dos->date).ok()) {
    return false;
  }
  record_.write_time = dos->time;
  record_.write_date = dos->date;
  return true;
}

bool FatFile::SetAttributes(const FileAttributes& attributes) {
  if (!writable_) return false;
  constexpr uint8_t kSettable =
      kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive;
  uint8_t value = record_.attributes & ~kSettable;
  if (attributes.read_only) value |= kAttributeReadOnly;
  if (attributes.hidden) value |= kAttributeHidden;
  if (attributes.system) value |= kAttributeSystem;
  if (attributes.archive) value |= kAttributeArchive;
  std::lock_guard lock(volume_->change_mutex());
  if (volume_->WriteRefusal()) return false;
  if (!WriteEntryAttributes(volume_->device(), record_.entry_offset, value).ok()) return false;
  record_.attributes = value;
  return true;
}

void FatFile::NoteFault() {
  volume_->ReportDamage(inner_path_);
}

uint32_t FatFile::Read(void* buffer, uint32_t length) {
  const uint32_t cluster_bytes = volume_->geometry().ClusterBytes();
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length && position_ < record_.size) {
    if (!cursor_->MoveTo(position_ / cluster_bytes)) {
      // The entry promises more than the chain holds: the file ends where the chain does.
      NoteFault();
      break;
    }
    if (cursor_->crossed()) NoteFault();
    const uint64_t within = position_ % cluster_bytes;
    const uint64_t step =
        std::min<uint64_t>({length - done, cluster_bytes - within, record_.size - position_});
    const uint64_t offset = volume_->geometry().ClusterOffset(cursor_->cluster()) + within;
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
