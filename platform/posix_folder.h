#pragma once

#include <memory>
#include <string>

#include "platform/folder.h"

namespace quarn {

// A Folder over an open directory descriptor, which it owns. Every operation works relative
// to the descriptor (the *at() calls), so a folder renamed or moved while open is still the
// folder operated on, and no path is ever rebuilt from names.
//
// OpenFile refuses anything but a regular file (a FIFO or a device could block the caller or
// act on being opened) and a symbolic link. Errors name the entry as Path() + "/" + name and
// give the cause.
class PosixFolder : public Folder {
 public:
  // Takes ownership of `descriptor`; `path` is what Path() returns.
  PosixFolder(int descriptor, std::string path);
  ~PosixFolder() override;
  PosixFolder(const PosixFolder&) = delete;
  PosixFolder& operator=(const PosixFolder&) = delete;

  Result<std::vector<FolderEntry>> List() override;
  Result<std::unique_ptr<File>> OpenFile(const std::string& name, OpenMode mode) override;
  Result<std::unique_ptr<File>> OpenListedFile(const std::string& name) override;
  Result<std::optional<FileInfo>> Examine(const std::string& name) override;
  Result<std::unique_ptr<File>> CreateFile(const std::string& name, uint32_t mode) override;
  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& name) override;
  Status CreateFolder(const std::string& name) override;
  Status Rename(const std::string& from, const std::string& to, RenameMode mode) override;
  Status Delete(const std::string& name) override;
  const std::string& Path() const override { return path_; }
  uint64_t Mount() const override;
  FolderIdentity Identity() const override;
  std::optional<FolderStamp> Stamp() const override;
  bool OnInterfaceFileSystem() const override;
  Result<std::unique_ptr<Folder>> OpenParent() override;

 private:
  // An error naming `name` in this folder, or nothing when the name is acceptable.
  std::optional<Status> CheckName(std::string_view action, const std::string& name) const;
  Status Failure(std::string_view action, const std::string& name, int error) const;
  Status RenameByLink(const std::string& from, const std::string& to);
  // Opens `name` without following a link or waiting on a FIFO, and keeps it only when what
  // was opened is a regular file.
  Result<std::unique_ptr<File>> OpenRegular(const std::string& name, OpenMode mode);

  int descriptor_;
  std::string path_;
  mutable uint64_t mount_ = 0;  // looked up when first asked
};

// The host's file system. OpenFolder follows symbolic links in the path it is given (the
// place a walk or a load starts is the user's choice); nothing below it follows any.
std::unique_ptr<FileSystem> OpenPosixFileSystem();

}  // namespace quarn
