#include "platform/confined_open.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>

#include "platform/mount_table.h"
#include "platform/path_names.h"

namespace quarn {
namespace {

constexpr const char* kSymbolicLink = "Symbolic link in path";
constexpr const char* kNotScanned = "File system not scanned";

// File systems whose files are kernel interfaces, not data: a read has side effects or
// blocks, and sizes are made up. Besides the ones a client must never reach (proc, sysfs,
// devpts, debugfs, tracefs, cgroup), this refuses the others of that kind too: securityfs,
// bpf, pstore, efivarfs, selinuxfs, smackfs, binfmt_misc and nsfs. devtmpfs reports itself
// as tmpfs and is told apart by its device number.
constexpr std::array<unsigned long, 15> kInterfaceFileSystems = {
    PROC_SUPER_MAGIC,   SYSFS_MAGIC,         DEVPTS_SUPER_MAGIC, DEBUGFS_MAGIC,  TRACEFS_MAGIC,
    CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, SECURITYFS_MAGIC,   BPF_FS_MAGIC,   PSTOREFS_MAGIC,
    EFIVARFS_MAGIC,     SELINUX_MAGIC,       SMACK_MAGIC,        BINFMTFS_MAGIC, NSFS_MAGIC};

std::string Cause(int error) {
  switch (error) {
    case ENOENT:
      return "No such file or directory";
    case EACCES:
    case EPERM:
      return "Access denied";
    case ELOOP:  // with RESOLVE_NO_SYMLINKS, any link met on the way
      return kSymbolicLink;
    default:
      return ErrnoText(error);
  }
}

// Resolution never follows a symbolic link, not even one in a folder above.
int OpenWithoutLinks(const std::string& path, uint64_t flags) {
  open_how how{};
  how.flags = flags | O_NOFOLLOW | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  long descriptor;
  do {
    descriptor = syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof(how));
  } while (descriptor < 0 && errno == EINTR);
  return static_cast<int>(descriptor);
}

// devtmpfs keeps one superblock for the whole boot, so its device number, once found in the
// mount table, holds for good. Until it is found each question reads the table again, since
// it may be mounted later.
bool IsOnDevtmpfs(dev_t device) {
  static std::atomic<dev_t> devtmpfs_device{0};
  const dev_t known = devtmpfs_device.load();
  if (known != 0) return known == device;
  Result<std::string> table = ReadMountInfoText();
  if (!table) return false;
  for (const MountEntry& mount : ParseMountInfo(*table)) {
    if (mount.fs_type != "devtmpfs") continue;
    const dev_t found = makedev(mount.major, mount.minor);
    devtmpfs_device.store(found);
    return found == device;
  }
  return false;
}

// What the open object is, or why it is not scanned.
Result<ConfinedEntry> Examine(int descriptor) {
  struct stat status {};
  if (fstat(descriptor, &status) != 0) return Status::Error(Cause(errno));
  ConfinedEntry entry;
  if (S_ISREG(status.st_mode)) {
    entry.kind = ConfinedKind::kFile;
    entry.size = static_cast<uint64_t>(status.st_size);
  } else if (S_ISDIR(status.st_mode)) {
    entry.kind = ConfinedKind::kFolder;
  } else if (S_ISLNK(status.st_mode)) {
    // O_PATH with O_NOFOLLOW hands out the link itself rather than refusing it.
    return Status::Error(kSymbolicLink);
  } else {
    return Status::Error("Not a regular file");
  }
  if (OnInterfaceFileSystem(descriptor)) return Status::Error(kNotScanned);
  return entry;
}

// Without /proc the object cannot be reopened, so it is opened for reading at once, which
// for a FIFO (O_NONBLOCK: no wait for a writer) or a device is an open that the checks then
// undo. devtmpfs cannot be told from tmpfs then, as the mount table is out of reach.
Result<ConfinedEntry> OpenForReadingAndExamine(const std::string& path) {
  UniqueDescriptor opened(OpenWithoutLinks(path, O_RDONLY | O_NONBLOCK | O_NOCTTY));
  if (opened.get() < 0) return Status::Error(Cause(errno));
  Result<ConfinedEntry> entry = Examine(opened.get());
  if (!entry) return entry.status();
  entry->descriptor = std::move(opened);
  return entry;
}

}  // namespace

bool OnInterfaceFileSystem(int descriptor) {
  struct stat status {};
  struct statfs file_system {};
  if (fstat(descriptor, &status) != 0 || fstatfs(descriptor, &file_system) != 0) return true;
  const auto type = static_cast<unsigned long>(file_system.f_type);
  return std::find(kInterfaceFileSystems.begin(), kInterfaceFileSystems.end(), type) !=
             kInterfaceFileSystems.end() ||
         (type == TMPFS_MAGIC && IsOnDevtmpfs(status.st_dev));
}

Result<ConfinedEntry> OpenConfined(const std::string& absolute_path) {
  if (absolute_path.empty() || absolute_path.front() != '/') {
    return Status::Error("Path must be absolute");
  }
  // O_PATH reaches the object without opening it: a FIFO or device is not touched, and only
  // the folders on the way need search permission.
  UniqueDescriptor located(OpenWithoutLinks(absolute_path, O_PATH));
  if (located.get() < 0) return Status::Error(Cause(errno));
  Result<ConfinedEntry> entry = Examine(located.get());
  if (!entry) return entry.status();

  // Reopening through the descriptor's own link opens the object just examined, whatever
  // happened to the path meanwhile, and checks read permission as the thread now stands.
  const std::string link = "/proc/self/fd/" + std::to_string(located.get());
  const int folder_flag = entry->kind == ConfinedKind::kFolder ? O_DIRECTORY : 0;
  int reopened;
  do {
    reopened = open(link.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | folder_flag);
  } while (reopened < 0 && errno == EINTR);
  if (reopened < 0) {
    // The descriptor exists, so a missing link means /proc is not mounted.
    if (errno == ENOENT) return OpenForReadingAndExamine(absolute_path);
    return Status::Error(Cause(errno));
  }
  entry->descriptor = UniqueDescriptor(reopened);
  return entry;
}

}  // namespace quarn
