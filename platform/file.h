#pragma once

#include <cstdint>
#include <optional>

namespace quarn {

enum class SeekOrigin { kBegin, kCurrent, kEnd };

// Nanoseconds since 1970-01-01 UTC.
using FileTime = int64_t;

struct FileTimes {
  std::optional<FileTime> creation;  // absent where the file system keeps none
  FileTime last_access = 0;
  FileTime last_write = 0;
};

// What the program calls a file's attributes. Only read-only has a meaning here (the owner's
// write bit); hidden, system and archive are carried along unchanged.
struct FileAttributes {
  bool read_only = false;
  bool hidden = false;
  bool system = false;
  bool archive = false;
};

// Facts about an open file that cleaning and the walk need.
struct FileInfo {
  uint64_t size = 0;
  uint32_t link_count = 1;
  uint32_t mode = 0644;  // permission bits
  uint32_t owner = 0;
  uint32_t group = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
};

// An open file with a current position, in the manner of a Win32 file handle. Detectors and
// cleaners work on this interface only, so every byte-level rule can be tested in memory.
//
// Positions are 64-bit. A position may lie past the end of the file: a read there delivers
// nothing and a write there extends the file with zeros up to the position.
class File {
 public:
  virtual ~File() = default;

  // Reads up to `length` bytes at the current position into `buffer` and moves the position
  // past them. Returns the number of bytes read; 0 means "nothing read" (end of file or an
  // error), which every detector treats as no match.
  virtual uint32_t Read(void* buffer, uint32_t length) = 0;

  // Read with one request to the system: it may deliver fewer bytes than asked before the
  // end, where Read would ask again. For readers that know where the file ends and so
  // save the request that would deliver nothing (the scan's read cache).
  virtual uint32_t ReadSome(void* buffer, uint32_t length) { return Read(buffer, length); }

  // Moves the position by `offset` from `origin`. A move that would make the position
  // negative fails and leaves the position where it was. Returns the new position, or
  // nothing on failure.
  virtual std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) = 0;

  virtual uint64_t Position() const = 0;

  // The file's current size, or nothing when it cannot be known.
  virtual std::optional<uint64_t> Size() = 0;

  // The size the file had when it was opened, where the handle knows it without asking
  // again, else its current size. For readers that take a file as unchanging while they
  // look at it (the scan's read cache); anyone who must see a change asks Size().
  virtual std::optional<uint64_t> SizeWhenOpened() { return Size(); }

  // Writes `length` bytes at the current position and moves the position past them.
  // Returns the number of bytes written; fewer than `length` is a failure.
  virtual uint32_t Write(const void* buffer, uint32_t length) = 0;

  // Cuts or extends the file so that it ends at the current position.
  virtual bool SetEndOfFile() = 0;

  // Pushes written bytes to the storage device.
  virtual bool Flush() = 0;

  virtual std::optional<FileTimes> GetTimes() = 0;
  // Sets the access and write times; a creation time is set where the platform can.
  virtual bool SetTimes(const FileTimes& times) = 0;

  virtual std::optional<FileAttributes> GetAttributes() = 0;
  virtual bool SetAttributes(const FileAttributes& attributes) = 0;

  virtual std::optional<FileInfo> GetInfo() = 0;
  // Gives the file another owner and group, where the caller may.
  virtual bool SetOwner(uint32_t owner, uint32_t group) = 0;
};

}  // namespace quarn
