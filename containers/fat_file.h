#pragma once

#include <memory>
#include <string>

#include "containers/fat_chain.h"
#include "containers/fat_directory.h"
#include "containers/fat_volume.h"
#include "platform/file.h"

namespace quarn {

// A file of a FAT volume, read through its cluster chain as it goes: nothing is buffered
// but one FAT block, and a cursor keeps its place in the chain so a seek forward walks only
// the links in between. A chain shorter than the entry's size ends the file early and is
// reported as damage once. Every change fails.
class FatFile : public File {
 public:
  // `inner_path`: the file's path in the volume with "\" between folders, for damage.
  FatFile(std::shared_ptr<FatVolume> volume, DirectoryRecord record, std::string inner_path);

  uint32_t Read(void* buffer, uint32_t length) override;
  std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) override;
  uint64_t Position() const override { return position_; }
  std::optional<uint64_t> Size() override { return record_.size; }
  uint32_t Write(const void*, uint32_t) override { return 0; }
  bool SetEndOfFile() override { return false; }
  bool Flush() override { return true; }
  std::optional<FileTimes> GetTimes() override;
  bool SetTimes(const FileTimes&) override { return false; }
  std::optional<FileAttributes> GetAttributes() override;
  bool SetAttributes(const FileAttributes&) override { return false; }
  std::optional<FileInfo> GetInfo() override;
  bool SetOwner(uint32_t, uint32_t) override { return false; }

 private:
  void NoteFault();

  std::shared_ptr<FatVolume> volume_;
  DirectoryRecord record_;
  std::string inner_path_;
  ChainCursor cursor_;
  uint64_t position_ = 0;
};

// The facts a record shows as a file or folder of `volume`.
FileInfo InfoOfRecord(const FatVolume& volume, const DirectoryRecord& record);
FileAttributes AttributesOfRecord(const DirectoryRecord& record);
// A DOS date and time (local time, taken as UTC) as nanoseconds since 1970; 0 when unset
// or impossible.
FileTime DosTimeToFileTime(uint16_t date, uint16_t time);

}  // namespace quarn
