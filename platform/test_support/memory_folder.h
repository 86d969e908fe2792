#pragma once

#include <memory>
#include <string>

#include "platform/folder.h"

namespace quarn {

struct MemoryNode;
struct MemoryState;

// A handle on a folder of MemoryFileSystem. Like a directory descriptor it follows the
// folder when the folder is renamed. Only MemoryFileSystem and MemoryFolder make these.
class MemoryFolder : public Folder {
 public:
  MemoryFolder(std::shared_ptr<MemoryState> state, std::shared_ptr<MemoryNode> node,
               std::string path);

  Result<std::vector<FolderEntry>> List() override;
  Result<std::unique_ptr<File>> OpenFile(const std::string& name, OpenMode mode) override;
  Result<std::optional<FileInfo>> Examine(const std::string& name) override;
  Result<std::unique_ptr<File>> CreateFile(const std::string& name, uint32_t mode) override;
  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& name) override;
  Status CreateFolder(const std::string& name) override;
  Status Rename(const std::string& from, const std::string& to, RenameMode mode) override;
  Status Delete(const std::string& name) override;
  const std::string& Path() const override { return path_; }
  uint64_t Mount() const override;
  FolderIdentity Identity() const override;
  Result<std::unique_ptr<Folder>> OpenParent() override;

 private:
  Status Failure(std::string_view action, const std::string& name, int error) const;
  Status Failure(std::string_view action, const std::string& name, std::string_view cause) const;
  // An error naming `name` in this folder, or nothing when the name is acceptable: one
  // component, and no longer than a real file system takes.
  std::optional<Status> CheckName(std::string_view action, const std::string& name) const;
  // An errno value when nothing may be added to or taken from this folder, else 0.
  int ChangeRefusal() const;

  std::shared_ptr<MemoryState> state_;
  std::shared_ptr<MemoryNode> node_;
  std::string path_;
};

}  // namespace quarn
