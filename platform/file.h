#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
  FileTime last_write = 0;   // when the content last changed
  FileTime last_change = 0;  // when the content or any of these facts last changed
};

// A name in its namespace ("user.origin", "system.posix_acl_access") and the bytes stored
// under it.
struct ExtendedAttribute {
  std::string name;
  std::vector<uint8_t> value;
  bool operator==(const ExtendedAttribute&) const = default;
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
  // error), which every detector treats as no match. It may deliver fewer bytes than asked
  // before the end: a file inside a container hands out what one cluster or one decoded
  // block holds, and the in-memory twin cuts reads on purpose to prove its readers. Code that
  // needs a given number of bytes reads them with ReadFullyAt or ReadExactlyAt
  // (platform/file_reads.h); the scan's detectors read through its read cache, which does.
  virtual uint32_t Read(void* buffer, uint32_t length) = 0;

  // Read with one request to the system, where a real file's Read asks again after a short
  // count. For readers that know where the file ends and so save the request that would
  // deliver nothing (the scan's read cache).
  virtual uint32_t ReadSome(void* buffer, uint32_t length) { return Read(buffer, length); }
  // Reads up to `length` bytes at `offset` as Read does, leaving the position where it is, and
  // safe from several threads at once (a positioned read of the system). Nothing where the
  // handle cannot: its readers then seek and read, one thread at a time.
  virtual std::optional<uint32_t> ReadAtOffset(uint64_t /*offset*/, void* /*buffer*/,
                                               uint32_t /*length*/) {
    return std::nullopt;
  }

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
  // Gives the file another owner and group, where the caller may. A system may clear the
  // set-user-ID and set-group-ID bits on the way.
  virtual bool SetOwner(uint32_t owner, uint32_t group) = 0;

  // Sets all the permission bits, set-user-ID, set-group-ID and sticky included. A system
  // may drop a bit the caller may not set (set-group-ID for a group the caller is not in)
  // without failing: GetInfo tells what was set.
  virtual bool SetMode(uint32_t /*mode*/) { return false; }

  // The extended attributes the caller may read, access control lists and security labels
  // among them; none where the file system keeps none. Nothing when they cannot be read.
  virtual std::optional<std::vector<ExtendedAttribute>> GetExtendedAttributes() {
    return std::vector<ExtendedAttribute>();
  }
  virtual bool SetExtendedAttribute(const ExtendedAttribute& /*attribute*/) { return false; }
  // True also when the file has no attribute of that name.
  virtual bool RemoveExtendedAttribute(const std::string& /*name*/) { return false; }

  // The file system's flags of the file (what chattr changes), for callers that carry them
  // from one file to another without reading them: 0 where the file system keeps none,
  // nothing when they cannot be read.
  virtual std::optional<uint32_t> GetFlags() { return 0u; }
  // Gives the file those of `flags` that its owner can change, keeping the rest as they
  // are. Fails for flags that would bar writing, renaming or deleting the file.
  virtual bool SetFlags(uint32_t flags) { return flags == 0; }

  // Where the next bytes holding data start, at or after `offset`: holes (runs of zeros the
  // file system keeps no storage for) are skipped. The file's size when only holes follow;
  // nothing when it cannot be told. Without holes, every byte is data.
  virtual std::optional<uint64_t> NextData(uint64_t offset) {
    const std::optional<uint64_t> size = Size();
    if (!size) return std::nullopt;
    return offset < *size ? offset : *size;
  }
  // Where the data that holds `offset` ends: the start of the next hole, else the size.
  virtual std::optional<uint64_t> NextHole(uint64_t /*offset*/) { return Size(); }
};

}  // namespace quarn
