#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "containers/fat/fat_chain.h"
#include "containers/fat/fat_directory.h"
#include "containers/fat/fat_volume.h"
#include "platform/file.h"

namespace quarn {

// A file of a FAT volume, read through its cluster chain as it goes: nothing is buffered
// but one FAT block, and a cursor keeps its place in the chain so a seek forward walks only
// the links in between. A chain shorter than the entry's size ends the file early and is
// reported as damage once. A file opened for writing in a writable volume is changed in
// place (bytes, end, write time, attributes), each change checked anew against damage and
// cross-links; any other change fails.
class FatFile : public File {
 public:
  // `inner_path`: the file's path in the volume with "\" between folders, for damage.
  // `writable`: opened for reading and writing, after the file passed every check of
  // FatFileEditor::Refusal.
  FatFile(std::shared_ptr<FatVolume> volume, DirectoryRecord record, std::string inner_path,
          bool writable = false);

  uint32_t Read(void* buffer, uint32_t length) override;
  std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) override;
  uint64_t Position() const override { return position_; }
  std::optional<uint64_t> Size() override { return record_.size; }
  uint32_t Write(const void* buffer, uint32_t length) override;
  bool SetEndOfFile() override;
  bool Flush() override;
  std::optional<FileTimes> GetTimes() override;
  // Writes the entry's modification date and time; a time DOS cannot hold (before 1980,
  // after 2107) fails. FAT keeps no access time worth setting here.
  bool SetTimes(const FileTimes& times) override;
  std::optional<FileAttributes> GetAttributes() override;
  bool SetAttributes(const FileAttributes& attributes) override;
  std::optional<FileInfo> GetInfo() override;
  bool SetOwner(uint32_t, uint32_t) override { return false; }

 private:
  void NoteFault();
  // Runs `change` on a checked editor under the volume's change lock; false when the
  // handle is read only, the volume refuses changes, the file fails its check, or the
  // change fails. The chain is walked afresh afterwards.
  bool Change(const std::function<Status(class FatFileEditor&)>& change);

  std::shared_ptr<FatVolume> volume_;
  DirectoryRecord record_;
  std::string inner_path_;
  bool writable_;
  std::optional<ChainCursor> cursor_;
  uint64_t position_ = 0;
};

// The facts a record shows as a file or folder of `volume`.
FileInfo InfoOfRecord(const FatVolume& volume, const DirectoryRecord& record);
FileAttributes AttributesOfRecord(const DirectoryRecord& record);
// A DOS date and time (local time, taken as UTC) as nanoseconds since 1970; 0 when unset
// or impossible.
FileTime DosTimeToFileTime(uint16_t date, uint16_t time);
// The other way, rounded down to two seconds; nothing outside 1980 to 2107.
struct DosTime {
  uint16_t date = 0;
  uint16_t time = 0;
};
std::optional<DosTime> FileTimeToDosTime(FileTime time);

}  // namespace quarn
