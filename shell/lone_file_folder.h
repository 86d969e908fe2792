#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/folder.h"

namespace quarn {

// A folder that holds one file and can be changed in no way: how the scan's core, which takes
// (folder, name) pairs, sees bytes that have no folder of their own (a client's stream, a
// descriptor passed over the socket, a file opened by a confined path). Each open gives a new
// read-only handle from `open`.
// A new read-only handle on an open descriptor each time it is called: a copy of its own, read
// at offsets, so the descriptor's position (maybe shared with its owner) never moves and the
// descriptor itself is never closed. Null when no copy can be made.
std::function<std::unique_ptr<File>()> DescriptorCopies(int descriptor);

class LoneFileFolder : public Folder {
 public:
  LoneFileFolder(std::string name, std::function<std::unique_ptr<File>()> open)
      : name_(std::move(name)), open_(std::move(open)) {}

  Result<std::vector<FolderEntry>> List() override;
  Result<std::unique_ptr<File>> OpenFile(const std::string& name, OpenMode mode) override;
  Result<std::optional<FileInfo>> Examine(const std::string& name) override;
  Result<std::unique_ptr<File>> CreateFile(const std::string& name, uint32_t mode) override;
  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& name) override;
  Status CreateFolder(const std::string& name) override;
  Status Rename(const std::string& from, const std::string& to, RenameMode mode) override;
  Status Delete(const std::string& name) override;
  const std::string& Path() const override { return path_; }
  uint64_t Mount() const override { return 0; }
  FolderIdentity Identity() const override { return {}; }
  Result<std::unique_ptr<Folder>> OpenParent() override;

 private:
  Status Refused(const std::string& name) const;

  std::string name_;
  std::function<std::unique_ptr<File>()> open_;
  std::string path_;
};

}  // namespace quarn
