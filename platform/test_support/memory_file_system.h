#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/folder.h"
#include "platform/status.h"

namespace quarn {

// The calls a test can make fail.
enum class FileOperation {
  kRead,
  kWrite,
  kSeek,
  kSetEndOfFile,
  kFlush,
  kSetTimes,
  kSetAttributes,
  kSetOwner,
  kOpenFile,
  kCreateFile,
  kRename,
  kDelete,
  kList,
  kOpenFolder,    // Folder::OpenFolder and FileSystem::OpenFolder
  kCreateFolder,  // Folder::CreateFolder and FileSystem::CreateFolders
  kExamine,
  kSetMode,
  kSetExtendedAttribute,  // setting and removing one
  kSetFlags,
};

// The largest file the memory file system holds; a write or SetEndOfFile beyond it fails,
// so a test that seeks far away cannot make it allocate without bound.
inline constexpr uint64_t kMaxMemoryFileSize = uint64_t{1} << 30;

struct MemoryState;

// A file system in memory that behaves as the POSIX one does for the same calls: the same
// errors (with the same messages), names checked the same way, links never followed below
// OpenFolder(path), files opened twice sharing one content, open handles keeping a deleted
// file's content, link counts dropping on delete. Where a real system depends on who runs
// it, this one acts as an ordinary user: a read-only file cannot be opened for writing, and
// nothing can be created, renamed or deleted in a read-only folder. Hidden, system and
// archive stay with the file (a POSIX file keeps them in the handle that set them only), so a
// test can see whether code carried them from one file to another. A file's mode is taken
// as given, without a umask. Files have no holes; every flag can be set but those that
// would bar changes (as SetFlags says), and the change time is the clock at each change.
//
// Paths are absolute, "/" separated; "." and empty components are ignored and ".." climbs
// towards the root. Handles stay valid after the MemoryFileSystem is destroyed. All calls
// may be made from several threads.
class MemoryFileSystem : public FileSystem {
 public:
  MemoryFileSystem();
  ~MemoryFileSystem() override;

  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& path) override;
  Status CreateFolders(const std::string& path) override;
  Result<std::string> ReadLink(const std::string& path) override;

  // Building the tree. Missing parent folders are created; an existing entry of the same
  // name is replaced.
  Status AddFile(const std::string& path, std::vector<uint8_t> bytes);
  Status AddFile(const std::string& path, std::string_view text);
  Status AddFolder(const std::string& path);
  Status AddLink(const std::string& path, const std::string& target);
  // An entry that is neither file, folder nor link: a FIFO or a device.
  Status AddSpecial(const std::string& path);
  // Removes an entry, and everything below a folder, as though another program had.
  Status Remove(const std::string& path);
  // Moves an entry to a new path in another folder or the same, as another program's rename
  // would; open handles follow it. Fails when `to` exists.
  Status Move(const std::string& from, const std::string& to);

  // Looking. None of these follows a link in the last component.
  bool Exists(const std::string& path) const;
  std::optional<EntryKind> KindOf(const std::string& path) const;
  std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path) const;
  std::optional<std::string> ReadFileText(const std::string& path) const;
  std::optional<FileTimes> TimesOf(const std::string& path) const;
  std::optional<FileInfo> InfoOf(const std::string& path) const;
  std::optional<std::vector<ExtendedAttribute>> ExtendedAttributesOf(const std::string& path) const;
  std::optional<uint32_t> FlagsOf(const std::string& path) const;
  // The names in a folder, sorted; empty for anything else.
  std::vector<std::string> NamesIn(const std::string& path) const;

  // Changing the facts of an existing entry.
  Status SetLinkCount(const std::string& path, uint32_t count);
  // On a folder: nothing can then be created, renamed or deleted in it.
  Status SetReadOnly(const std::string& path, bool read_only);
  Status SetAttributes(const std::string& path, const FileAttributes& attributes);
  Status SetTimes(const std::string& path, const FileTimes& times);
  Status SetMode(const std::string& path, uint32_t mode);
  Status SetOwner(const std::string& path, uint32_t owner, uint32_t group);
  Status SetExtendedAttribute(const std::string& path, const ExtendedAttribute& attribute);
  Status SetFlags(const std::string& path, uint32_t flags);
  // The device of the entry and of everything below it, as though a file system were
  // mounted there. New entries take their folder's device.
  Status SetDevice(const std::string& path, uint64_t device);
  // The time stamped on new entries and on files as they are written.
  void SetClock(FileTime now);

  // Faults. Calls are counted per operation across all handles. FailCall makes the `nth`
  // call from now fail (1 = the next one) and, with `and_after`, every later call as well.
  // A failed call changes nothing: reads and writes move no byte and the position stays.
  void FailCall(FileOperation operation, int nth, bool and_after = false);
  // Every Read delivers at most `max_bytes` (0 = no limit), as a pipe or a slow disk may.
  void SetShortReads(uint32_t max_bytes);
  // Every Write stores at most `max_bytes` (0 = no limit), as on a full disk.
  void SetShortWrites(uint32_t max_bytes);
  void ClearFaults();
  // Calls of `operation` made so far, failed ones included.
  int CallCount(FileOperation operation) const;

 private:
  std::shared_ptr<MemoryState> state_;
};

}  // namespace quarn
