#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/status.h"

namespace quarn {

enum class EntryKind { kFile, kFolder, kLink, kOther };

struct FolderEntry {
  std::string name;  // the name's bytes as stored, not necessarily valid UTF-8
  EntryKind kind = EntryKind::kOther;
  // The mount a folder entry lives on (a mount point shows the mounted one), to keep a walk
  // on its drive; files and links report their folder's. A mount, not a device number: a
  // subvolume with a device of its own is still the same mount, a bind mount of a folder of
  // the same device is another.
  uint64_t mount = 0;
  // Where a file system whose folders may show one name twice (a damaged FAT volume) keeps
  // the entry, to tell it from another of the same name (see Folder::ViewOfEntry); 0 on the
  // host.
  uint64_t slot = 0;
};

// What makes a folder the same folder: its file system's device and its inode.
struct FolderIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

// When a folder's entries last changed, as its modification and change times tell: a folder
// listed earlier whose stamp is another now may hold other entries.
struct FolderStamp {
  int64_t modified_ns = 0;
  int64_t changed_ns = 0;
  friend bool operator==(const FolderStamp&, const FolderStamp&) = default;
};

// kAppend opens for reading and writing, and every Write lands after the file's last byte as
// it is at that moment, whatever other handles or programs wrote meanwhile: the write is one
// request to the system, so lines that several writers append stay whole and none is lost.
enum class OpenMode { kRead, kReadWrite, kAppend };
enum class RenameMode { kNoReplace, kReplace };

// An open folder. Names are single path components relative to it: the walk, the actions
// and the cleaners' temporary copies work with (folder, name) pairs, never with a path
// rebuilt from what the user sees. Nothing here follows a symbolic link.
class Folder {
 public:
  virtual ~Folder() = default;

  // The entries other than "." and "..", in no particular order.
  virtual Result<std::vector<FolderEntry>> List() = 0;

  virtual Result<std::unique_ptr<File>> OpenFile(const std::string& name, OpenMode mode) = 0;

  // The facts of the entry `name` (of a link, not of what it points to) without opening it:
  // nothing when there is no such entry, a failure when it cannot be told.
  virtual Result<std::optional<FileInfo>> Examine(const std::string& name) = 0;

  // Opens for reading a file this folder's List() gave as a regular file, for the scan. It
  // refuses what OpenFile refuses, with the same messages; where the platform looks at an
  // entry before opening it, the listing stands in for that look, so it costs one request
  // to the system less per file.
  virtual Result<std::unique_ptr<File>> OpenListedFile(const std::string& name) {
    return OpenFile(name, OpenMode::kRead);
  }

  // Creates a new, empty file opened for reading and writing; fails when the name exists.
  virtual Result<std::unique_ptr<File>> CreateFile(const std::string& name,
                                                   uint32_t mode = 0644) = 0;

  virtual Result<std::unique_ptr<Folder>> OpenFolder(const std::string& name) = 0;

  // A folder that holds `entry`, one this folder's List() gave, alone: its name opens that
  // very entry, and no other this folder shows under the same name. Null where a name opens
  // one entry only (a host folder): this folder then serves.
  virtual std::unique_ptr<Folder> ViewOfEntry(const FolderEntry& entry) {
    (void)entry;
    return nullptr;
  }

  // Creates a subfolder; succeeds when it exists already as a folder.
  virtual Status CreateFolder(const std::string& name) = 0;

  // kNoReplace fails when `to` exists; kReplace swaps `to` atomically for `from`.
  virtual Status Rename(const std::string& from, const std::string& to, RenameMode mode) = 0;

  virtual Status Delete(const std::string& name) = 0;

  // The host path this folder was opened by, for messages and display.
  virtual const std::string& Path() const = 0;

  // The mount the folder lives on, as FolderEntry::mount gives it.
  virtual uint64_t Mount() const = 0;

  virtual FolderIdentity Identity() const = 0;
  // Nothing where the folder cannot tell.
  virtual std::optional<FolderStamp> Stamp() const { return std::nullopt; }

  // Whether the folder lies on a file system of kernel interfaces rather than data (proc,
  // sysfs, devtmpfs and the like), whose files a scan must never read.
  virtual bool OnInterfaceFileSystem() const { return false; }

  // The folder that holds this one now (wherever this one has been moved), never through a
  // link: a walk that closed an outer folder comes back to it this way and compares its
  // identity with the one it recorded.
  virtual Result<std::unique_ptr<Folder>> OpenParent() = 0;

  // Whether a changed file of this folder is rewritten where it lies instead of replaced by
  // a copy made beside it: a folder inside a disk image's working copy, where the copy of the
  // whole image gives all or nothing, and 8.3 names and a full root folder leave no room
  // for a copy's name.
  virtual bool RewritesInPlace() const { return false; }
};

// Access by host path: where a walk or a load starts.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual Result<std::unique_ptr<Folder>> OpenFolder(const std::string& path) = 0;

  // Creates the folder and any missing parents.
  virtual Status CreateFolders(const std::string& path) = 0;

  // The target text of the symbolic link at `path` (its last component is the link), as
  // stored; fails when `path` is not a link.
  virtual Result<std::string> ReadLink(const std::string& path) = 0;
};

}  // namespace quarn
