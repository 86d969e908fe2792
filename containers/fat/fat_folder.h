#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "containers/fat/fat_directory.h"
#include "containers/fat/fat_volume.h"
#include "platform/folder.h"

namespace quarn {

// Where a folder sits in its volume: the first cluster of every folder from the root down
// to it (the root is 0), and its path ("/" for the root, "/DOS/UTIL" below it).
struct FatFolderPlace {
  std::vector<uint32_t> clusters = {0};
  std::string path = "/";
};

// A folder of a FAT volume. Its entries are read once, on first use, and kept: the image
// does not change under a reader. A subfolder whose first cluster is the folder's own or
// one of its ancestors' would hold itself, and one that a second entry names (a folder
// cross-linked with another) would be walked twice: neither is listed nor opened, and each
// is reported as damage; so is a folder where two entries answer to one name, or a name
// shows what no name may hold. The walk reads each entry through a view that holds it alone
// (ViewOfEntry), and a working copy's change goes through such a folder too, found by the
// entry's slot (FatFileSystem::OpenEntryFolder): what is read and what is changed is the
// entry the listing gave, never the first one a name finds. In a writable volume a file may
// be opened for writing, deleted and renamed within the folder (never over another name);
// every other change, and every change in a read-only or damaged volume or to a
// cross-linked file, fails naming the path.
class FatFolder : public Folder {
 public:
  // With `only_slot`, the folder holds the entry at that slot alone.
  FatFolder(std::shared_ptr<FatVolume> volume, FatFolderPlace place,
            std::optional<uint64_t> only_slot = std::nullopt);

  Result<std::vector<FolderEntry>> List() override;
  Result<std::unique_ptr<File>> OpenFile(const std::string& name, OpenMode mode) override;
  Result<std::optional<FileInfo>> Examine(const std::string& name) override;
  Result<std::unique_ptr<File>> CreateFile(const std::string& name, uint32_t mode) override;
  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& name) override;
  std::unique_ptr<Folder> ViewOfEntry(const FolderEntry& entry) override;
  Status CreateFolder(const std::string& name) override;
  Status Rename(const std::string& from, const std::string& to, RenameMode mode) override;
  Status Delete(const std::string& name) override;
  const std::string& Path() const override { return place_.path; }
  uint64_t Mount() const override { return volume_->device_id(); }
  FolderIdentity Identity() const override;
  Result<std::unique_ptr<Folder>> OpenParent() override;
  bool RewritesInPlace() const override { return true; }

 private:
  // The listing, read on first use.
  const std::vector<DirectoryRecord>& Records();
  // The entry `name` lists, of the kind asked for where two entries show that name: a
  // file and a folder of one name both open. Else an entry whose short name it is.
  DirectoryRecord* Find(const std::string& name, bool folder);
  // Find without taking the entry from the device again.
  DirectoryRecord* Lookup(const std::string& name, bool folder);
  void Reindex();
  // Takes the entry's size, cluster, times and attributes from the device again: a file
  // opened from this folder may have changed them.
  void Refresh(DirectoryRecord& record);
  // The folder's first cluster and whether it is the fixed root of a FAT12 or FAT16 volume.
  std::pair<uint32_t, bool> Start() const;
  // Why `name` may not be changed, as a message naming its path; nothing when it may.
  std::optional<std::string> ChangeRefusal(std::string_view action, const std::string& name,
                                           const DirectoryRecord* record) const;
  // The folder key of a subfolder entry's first cluster: 0 names the root.
  uint32_t FolderKey(uint32_t cluster) const;
  bool HoldsItself(const DirectoryRecord& record) const;
  // `name`'s path in the volume with "\" between folders, as damage names it.
  std::string InnerPath(const std::string& name) const;
  Status ReadOnly(std::string_view action, const std::string& name) const;

  std::shared_ptr<FatVolume> volume_;
  FatFolderPlace place_;
  std::optional<uint64_t> only_slot_;
  std::mutex mutex_;
  std::optional<std::vector<DirectoryRecord>> records_;
  std::unordered_map<std::string, size_t> files_by_name_;
  std::unordered_map<std::string, size_t> folders_by_name_;
  std::unordered_map<uint64_t, size_t> by_slot_;
};

}  // namespace quarn
