#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace quarn {

// A File over an open POSIX descriptor of a regular file. It owns the descriptor and closes
// it when destroyed. The position starts at the descriptor's offset and is kept here from
// then on: reads and writes name their offset, so the descriptor's own offset is unused.
//
// Read-only is the owner's write bit. Hidden, system and archive mean nothing to a POSIX
// file system: they are remembered by this object only, so GetAttributes returns what the
// last SetAttributes on it gave (all false before). A creation time is reported where statx
// knows one and is never set.
class PosixFile : public File {
 public:
  // Takes the descriptor's current offset as the position.
  explicit PosixFile(int descriptor);
  // For a descriptor just opened, whose offset is known to be 0.
  PosixFile(int descriptor, uint64_t position) : descriptor_(descriptor), position_(position) {}
  // `size_when_opened`: what the opener's own fstat found, so the scan needs no other.
  // `appends`: the descriptor was opened with O_APPEND (OpenMode::kAppend), so every write
  // goes to the end, and the position follows it there.
  PosixFile(int descriptor, uint64_t position, uint64_t size_when_opened, bool appends = false)
      : descriptor_(descriptor),
        position_(position),
        size_when_opened_(size_when_opened),
        appends_(appends) {}
  ~PosixFile() override;
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  uint32_t Read(void* buffer, uint32_t length) override;
  uint32_t ReadSome(void* buffer, uint32_t length) override;
  std::optional<uint32_t> ReadAtOffset(uint64_t offset, void* buffer, uint32_t length) override;
  std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) override;
  uint64_t Position() const override { return position_; }
  std::optional<uint64_t> Size() override;
  std::optional<uint64_t> SizeWhenOpened() override {
    return size_when_opened_ ? size_when_opened_ : Size();
  }
  uint32_t Write(const void* buffer, uint32_t length) override;
  bool SetEndOfFile() override;
  bool Flush() override;
  std::optional<FileTimes> GetTimes() override;
  bool SetTimes(const FileTimes& times) override;
  std::optional<FileAttributes> GetAttributes() override;
  bool SetAttributes(const FileAttributes& attributes) override;
  std::optional<FileInfo> GetInfo() override;
  bool SetOwner(uint32_t owner, uint32_t group) override;
  bool SetMode(uint32_t mode) override;
  std::optional<std::vector<ExtendedAttribute>> GetExtendedAttributes() override;
  bool SetExtendedAttribute(const ExtendedAttribute& attribute) override;
  bool RemoveExtendedAttribute(const std::string& name) override;
  std::optional<uint32_t> GetFlags() override;
  bool SetFlags(uint32_t flags) override;
  std::optional<uint64_t> NextData(uint64_t offset) override;
  std::optional<uint64_t> NextHole(uint64_t offset) override;

  int descriptor() const { return descriptor_; }

 private:
  uint32_t Append(const void* buffer, uint32_t length);

  int descriptor_;
  uint64_t position_ = 0;
  std::optional<uint64_t> size_when_opened_;
  bool appends_ = false;
  FileAttributes kept_;  // hidden, system and archive as last set
};

// What a file of type `mode` (a stat st_mode) is, for messages that refuse it: "a folder",
// "a FIFO", "a character device", "a block device", "a socket", "a symbolic link", "a
// regular file".
std::string_view FileKindName(uint32_t mode);

// Why a file of type `mode` is refused where a regular file is wanted: "is a FIFO, not a
// regular file", and the like.
std::string NotRegularFileCause(uint32_t mode);

// Nanoseconds since 1970 from seconds and nanoseconds, saturated at the ends of FileTime's
// range rather than overflowing (a hostile file may carry any time stamp).
FileTime FileTimeFromParts(int64_t seconds, int64_t nanoseconds);

// The FileInfo of what fstat or fstatat found.
FileInfo InfoFromStat(const struct stat& status);

}  // namespace quarn
