#include "shell/lone_file_folder.h"

#include <fcntl.h>

#include "platform/posix_file.h"

namespace quarn {

std::function<std::unique_ptr<File>()> DescriptorCopies(int descriptor) {
  return [descriptor]() -> std::unique_ptr<File> {
    const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return nullptr;
    return std::make_unique<PosixFile>(copy, 0);
  };
}

Status LoneFileFolder::Refused(const std::string& name) const {
  return Status::Error(name + ": nothing here may be changed");
}

Result<std::vector<FolderEntry>> LoneFileFolder::List() {
  return std::vector<FolderEntry>{{name_, EntryKind::kFile, 0}};
}

Result<std::unique_ptr<File>> LoneFileFolder::OpenFile(const std::string& name, OpenMode mode) {
  if (name != name_) return Status::Error(name + ": no such file");
  if (mode != OpenMode::kRead) return Refused(name);
  std::unique_ptr<File> file = open_();
  if (!file) return Status::Error(name + ": cannot be opened");
  return file;
}

Result<std::optional<FileInfo>> LoneFileFolder::Examine(const std::string& name) {
  if (name != name_) return std::optional<FileInfo>();
  std::unique_ptr<File> file = open_();
  if (!file) return Status::Error(name + ": cannot be opened");
  std::optional<FileInfo> info = file->GetInfo();
  if (!info) return Status::Error(name + ": cannot be examined");
  return info;
}

Result<std::unique_ptr<File>> LoneFileFolder::CreateFile(const std::string& name, uint32_t) {
  return Refused(name);
}

Result<std::unique_ptr<Folder>> LoneFileFolder::OpenFolder(const std::string& name) {
  return Status::Error(name + ": no such folder");
}

Status LoneFileFolder::CreateFolder(const std::string& name) {
  return Refused(name);
}

Status LoneFileFolder::Rename(const std::string& from, const std::string&, RenameMode) {
  return Refused(from);
}

Status LoneFileFolder::Delete(const std::string& name) {
  return Refused(name);
}

Result<std::unique_ptr<Folder>> LoneFileFolder::OpenParent() {
  return Status::Error("a lone file has no parent folder");
}

}  // namespace quarn
