#include "platform/posix_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <sys/sysmacros.h>

#include <cerrno>
#include <optional>

#include "platform/confined_open.h"
#include "platform/link_chain.h"
#include "platform/path_names.h"
#include "platform/posix_file.h"

namespace quarn {
namespace {

EntryKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (S_ISLNK(mode)) return EntryKind::kLink;
  return EntryKind::kOther;
}

EntryKind KindOfDirentType(unsigned char type) {
  switch (type) {
    case DT_REG:
      return EntryKind::kFile;
    case DT_DIR:
      return EntryKind::kFolder;
    case DT_LNK:
      return EntryKind::kLink;
    default:
      return EntryKind::kOther;
  }
}

struct EntryLook {
  mode_t mode = 0;
  uint64_t mount = 0;
};

// The type and mount of `name` in `folder` (the folder itself for ""), without following a
// link or triggering an automount; nothing, with errno set, when it cannot be looked at. A
// kernel without mount ids gives the device number instead, for every entry alike.
std::optional<EntryLook> LookAt(int folder, const char* name) {
  struct statx status;
  const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (name[0] == '\0' ? AT_EMPTY_PATH : 0);
  if (statx(folder, name, flags, STATX_TYPE | STATX_MNT_ID, &status) != 0) return std::nullopt;
  EntryLook look;
  look.mode = status.stx_mode;
  look.mount = (status.stx_mask & STATX_MNT_ID) != 0
                   ? status.stx_mnt_id
                   : makedev(status.stx_dev_major, status.stx_dev_minor);
  return look;
}

}  // namespace

PosixFolder::PosixFolder(int descriptor, std::string path)
    : descriptor_(descriptor), path_(std::move(path)) {}

PosixFolder::~PosixFolder() {
  if (descriptor_ >= 0) close(descriptor_);
}

std::optional<Status> PosixFolder::CheckName(std::string_view action,
                                             const std::string& name) const {
  if (IsSingleComponentName(name)) return std::nullopt;
  return Status::Error(PathMessage(action, JoinPath(path_, name), "not a single file name"));
}

Status PosixFolder::Failure(std::string_view action, const std::string& name, int error) const {
  return NoFollowFailure(action, JoinPath(path_, name), error);
}

Result<std::vector<FolderEntry>> PosixFolder::List() {
  // A descriptor of its own, so the listing has its own read offset.
  int list_descriptor = openat(descriptor_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (list_descriptor < 0) return ErrnoFailure("cannot list", path_, errno);
  DIR* directory = fdopendir(list_descriptor);
  if (directory == nullptr) {
    int error = errno;
    close(list_descriptor);
    return ErrnoFailure("cannot list", path_, error);
  }
  const uint64_t own_mount = Mount();

  std::vector<FolderEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(directory);
    if (entry == nullptr) break;
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry listed;
    listed.name = std::string(name);
    // A regular file or a link named by the directory itself needs no look of its own: only
    // folders can be mount points, and only their mount matters to a walk.
    if (entry->d_type == DT_REG || entry->d_type == DT_LNK) {
      listed.kind = KindOfDirentType(entry->d_type);
      listed.mount = own_mount;
      entries.push_back(std::move(listed));
      continue;
    }
    if (std::optional<EntryLook> look = LookAt(descriptor_, entry->d_name)) {
      listed.kind = KindOfMode(look->mode);
      listed.mount = look->mount;
    } else if (errno == ENOENT) {
      continue;  // removed since the folder was read
    } else {
      listed.kind = KindOfDirentType(entry->d_type);
      listed.mount = own_mount;
    }
    entries.push_back(std::move(listed));
  }
  int error = errno;
  closedir(directory);
  if (error != 0) return ErrnoFailure("cannot list", path_, error);
  return entries;
}

Result<std::unique_ptr<File>> PosixFolder::OpenFile(const std::string& name, OpenMode mode) {
  constexpr std::string_view kAction = "cannot open";
  if (auto refused = CheckName(kAction, name)) return *refused;
  // Look before opening: opening a device node runs its driver, which may act on it.
  struct stat before;
  if (fstatat(descriptor_, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0) {
    return Failure(kAction, name, errno);
  }
  if (S_ISLNK(before.st_mode)) return Failure(kAction, name, ELOOP);
  if (!S_ISREG(before.st_mode)) {
    return Status::Error(
        PathMessage(kAction, JoinPath(path_, name), NotRegularFileCause(before.st_mode)));
  }
  return OpenRegular(name, mode);
}

Result<std::unique_ptr<File>> PosixFolder::OpenListedFile(const std::string& name) {
  // List() looked at the entry already (the directory's own type, or a look of its own).
  // Leaving out a second look widens the time in which the entry could be swapped for a
  // device node from two system calls to the time since the listing, but making a device
  // node takes privileges that need no scanner's help, and the check after the open still
  // refuses whatever was swapped in.
  if (auto refused = CheckName("cannot open", name)) return *refused;
  return OpenRegular(name, OpenMode::kRead);
}

Result<std::optional<FileInfo>> PosixFolder::Examine(const std::string& name) {
  constexpr std::string_view kAction = "cannot examine";
  if (auto refused = CheckName(kAction, name)) return *refused;
  struct stat status;
  if (fstatat(descriptor_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    return std::optional<FileInfo>(InfoFromStat(status));
  }
  if (errno == ENOENT) return std::optional<FileInfo>();
  return Failure(kAction, name, errno);
}

Result<std::unique_ptr<File>> PosixFolder::OpenRegular(const std::string& name, OpenMode mode) {
  constexpr std::string_view kAction = "cannot open";
  // The entry may be swapped between the look and the open: O_NONBLOCK keeps a FIFO put
  // there from blocking the open, and the check below refuses it.
  int flags = (mode == OpenMode::kRead ? O_RDONLY : O_RDWR) |
              (mode == OpenMode::kAppend ? O_APPEND : 0) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
              O_CLOEXEC;
  int descriptor = openat(descriptor_, name.c_str(), flags);
  if (descriptor < 0) return Failure(kAction, name, errno);
  struct stat after;
  if (fstat(descriptor, &after) != 0) {
    const int error = errno;
    close(descriptor);
    return Failure(kAction, name, error);
  }
  if (!S_ISREG(after.st_mode)) {
    close(descriptor);
    return Status::Error(
        PathMessage(kAction, JoinPath(path_, name), NotRegularFileCause(after.st_mode)));
  }
  // O_NONBLOCK stays: it changes nothing for a regular file, the only kind let through.
  return std::unique_ptr<File>(new PosixFile(descriptor, 0, static_cast<uint64_t>(after.st_size),
                                             mode == OpenMode::kAppend));
}

Result<std::unique_ptr<File>> PosixFolder::CreateFile(const std::string& name, uint32_t mode) {
  constexpr std::string_view kAction = "cannot create";
  if (auto refused = CheckName(kAction, name)) return *refused;
  int descriptor = openat(descriptor_, name.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                          static_cast<mode_t>(mode & 07777));
  if (descriptor < 0) return Failure(kAction, name, errno);
  return std::unique_ptr<File>(new PosixFile(descriptor, 0));
}

Result<std::unique_ptr<Folder>> PosixFolder::OpenFolder(const std::string& name) {
  constexpr std::string_view kAction = "cannot open folder";
  if (auto refused = CheckName(kAction, name)) return *refused;
  int descriptor =
      openat(descriptor_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) {
    int error = errno;
    // A link is refused as ENOTDIR by some kernels and ELOOP by others: say what it is.
    struct stat status;
    if ((error == ENOTDIR || error == ELOOP) &&
        fstatat(descriptor_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(status.st_mode)) {
      error = ELOOP;
    }
    return Failure(kAction, name, error);
  }
  return std::unique_ptr<Folder>(new PosixFolder(descriptor, JoinPath(path_, name)));
}

Status PosixFolder::CreateFolder(const std::string& name) {
  constexpr std::string_view kAction = "cannot create folder";
  if (auto refused = CheckName(kAction, name)) return *refused;
  if (mkdirat(descriptor_, name.c_str(), 0777) == 0) return Status::Ok();
  int error = errno;
  struct stat status;
  if (error == EEXIST && fstatat(descriptor_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(status.st_mode)) return Status::Ok();
    return Status::Error(PathMessage(kAction, JoinPath(path_, name), "exists and is not a folder"));
  }
  return Failure(kAction, name, error);
}

Status PosixFolder::Rename(const std::string& from, const std::string& to, RenameMode mode) {
  constexpr std::string_view kAction = "cannot rename";
  if (auto refused = CheckName(kAction, from)) return *refused;
  if (auto refused = CheckName(kAction, to)) return *refused;
  if (mode == RenameMode::kReplace) {
    if (renameat(descriptor_, from.c_str(), descriptor_, to.c_str()) == 0) return Status::Ok();
  } else {
    if (syscall(SYS_renameat2, descriptor_, from.c_str(), descriptor_, to.c_str(),
                RENAME_NOREPLACE) == 0) {
      return Status::Ok();
    }
    // File systems without RENAME_NOREPLACE say EINVAL; a kernel without renameat2, ENOSYS.
    if (errno == EINVAL || errno == ENOSYS) return RenameByLink(from, to);
  }
  int error = errno;
  return Status::Error(
      PathMessage(kAction, JoinPath(path_, from) + " to " + JoinPath(path_, to), ErrnoText(error)));
}

Status PosixFolder::RenameByLink(const std::string& from, const std::string& to) {
  // link() refuses an existing target as renameat2 would, and is just as atomic about it.
  constexpr std::string_view kAction = "cannot rename";
  std::string both = JoinPath(path_, from) + " to " + JoinPath(path_, to);
  if (linkat(descriptor_, from.c_str(), descriptor_, to.c_str(), 0) != 0) {
    return Status::Error(PathMessage(kAction, both, ErrnoText(errno)));
  }
  if (unlinkat(descriptor_, from.c_str(), 0) != 0) {
    int error = errno;
    unlinkat(descriptor_, to.c_str(), 0);  // back to the one name it had
    return Status::Error(PathMessage(kAction, both, ErrnoText(error)));
  }
  return Status::Ok();
}

Status PosixFolder::Delete(const std::string& name) {
  constexpr std::string_view kAction = "cannot delete";
  if (auto refused = CheckName(kAction, name)) return *refused;
  if (unlinkat(descriptor_, name.c_str(), 0) == 0) return Status::Ok();
  return Failure(kAction, name, errno);
}

namespace {

class PosixFileSystem : public FileSystem {
 public:
  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& path) override {
    if (path.empty()) return Status::Error("cannot open folder: the path is empty");
    if (path.find('\0') != std::string::npos) {
      return Status::Error(PathMessage("cannot open folder", path, "the path holds a NUL"));
    }
    int descriptor = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return ErrnoFailure("cannot open folder", path, errno);
    return std::unique_ptr<Folder>(new PosixFolder(descriptor, TrimTrailingSlashes(path)));
  }

  Result<std::string> ReadLink(const std::string& path) override { return ReadLinkTarget(path); }

  Status CreateFolders(const std::string& path) override {
    constexpr std::string_view kAction = "cannot create folder";
    if (path.empty()) return Status::Error("cannot create folder: the path is empty");
    if (path.find('\0') != std::string::npos) {
      return Status::Error(PathMessage(kAction, path, "the path holds a NUL"));
    }
    size_t end = 0;
    while (end != std::string::npos) {
      end = path.find('/', end + 1);
      std::string prefix = path.substr(0, end);
      if (prefix.empty() || prefix.back() == '/') continue;  // "//" or the root
      struct stat status;
      if (stat(prefix.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) continue;
        return Status::Error(PathMessage(kAction, prefix, "exists and is not a folder"));
      }
      if (mkdir(prefix.c_str(), 0777) == 0) continue;
      int error = errno;
      // Someone else may have made it in between.
      if (error == EEXIST && stat(prefix.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        continue;
      }
      return Status::Error(PathMessage(kAction, prefix, ErrnoText(error)));
    }
    return Status::Ok();
  }
};

}  // namespace

std::unique_ptr<FileSystem> OpenPosixFileSystem() {
  return std::make_unique<PosixFileSystem>();
}

uint64_t PosixFolder::Mount() const {
  if (mount_ == 0) {
    std::optional<EntryLook> look = LookAt(descriptor_, "");
    mount_ = look ? look->mount : 0;
  }
  return mount_;
}

FolderIdentity PosixFolder::Identity() const {
  struct stat own;
  if (fstat(descriptor_, &own) != 0) return {};
  return {static_cast<uint64_t>(own.st_dev), static_cast<uint64_t>(own.st_ino)};
}

std::optional<FolderStamp> PosixFolder::Stamp() const {
  struct stat own;
  if (fstat(descriptor_, &own) != 0) return std::nullopt;
  constexpr int64_t kNanoseconds = 1'000'000'000;
  return FolderStamp{own.st_mtim.tv_sec * kNanoseconds + own.st_mtim.tv_nsec,
                     own.st_ctim.tv_sec * kNanoseconds + own.st_ctim.tv_nsec};
}

bool PosixFolder::OnInterfaceFileSystem() const {
  return quarn::OnInterfaceFileSystem(descriptor_);
}

Result<std::unique_ptr<Folder>> PosixFolder::OpenParent() {
  // ".." is never a link: it is the folder that holds this one now.
  int descriptor = openat(descriptor_, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return Failure("cannot open folder", "..", errno);
  return std::unique_ptr<Folder>(new PosixFolder(descriptor, ParentPath(path_)));
}

}  // namespace quarn
