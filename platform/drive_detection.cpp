#include "platform/drive_detection.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace quarn {
namespace {

constexpr std::array<std::string_view, 24> kPseudoTypes = {
    "proc",      "sysfs",     "devpts",     "cgroup",      "cgroup2",  "securityfs",
    "debugfs",   "tracefs",   "mqueue",     "pstore",      "bpf",      "configfs",
    "fusectl",   "hugetlbfs", "autofs",     "binfmt_misc", "devtmpfs", "efivarfs",
    "selinuxfs", "nsfs",      "rpc_pipefs", "nfsd",        "overlay",  "squashfs",
};
constexpr std::array<std::string_view, 6> kRemoteTypes = {"nfs",  "nfs4",  "cifs",
                                                          "smb3", "smbfs", "fuse.sshfs"};
constexpr std::array<std::string_view, 3> kNeverDriveFolders = {"/dev", "/proc", "/sys"};
constexpr std::array<std::string_view, 2> kSystemRamFolders = {"/run", "/tmp"};

constexpr char kFirstExtraLetter = 'D';
constexpr char kLastLetter = 'Z';

template <size_t N>
bool Contains(const std::array<std::string_view, N>& list, std::string_view word) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

bool IsAtOrUnder(std::string_view path, std::string_view folder) {
  if (path.substr(0, folder.size()) != folder) return false;
  return path.size() == folder.size() || path[folder.size()] == '/';
}

template <size_t N>
bool IsAtOrUnderAny(std::string_view path, const std::array<std::string_view, N>& folders) {
  return std::any_of(folders.begin(), folders.end(),
                     [&](std::string_view folder) { return IsAtOrUnder(path, folder); });
}

bool IsRamType(std::string_view type) {
  return type == "tmpfs" || type == "ramfs";
}

// FUSE names its file systems "fuse.<program>"; of those only the network ones above are
// drives. A disk driven through FUSE has a type of its own, "fuseblk", and stays one.
bool IsFuseWithoutOwnFiles(std::string_view type) {
  return type == "fuse" || (type.substr(0, 5) == "fuse." && !Contains(kRemoteTypes, type));
}

// The type a mount's file system shows as, by its kind alone; nullopt when the kind is
// never a drive. Block devices are told apart later, by the probes.
std::optional<DriveType> TypeByKind(const MountEntry& mount) {
  const std::string& type = mount.fs_type;
  if (Contains(kPseudoTypes, type) || IsFuseWithoutOwnFiles(type)) return std::nullopt;
  if (type == "iso9660" || type == "udf") return DriveType::kCdRom;
  if (Contains(kRemoteTypes, type)) return DriveType::kRemote;
  if (IsRamType(type)) return DriveType::kRamDisk;
  return DriveType::kFixed;
}

bool AsksRemovable(const MountProbes& probes, const MountEntry& mount) {
  return probes.is_removable && mount.major != 0 && probes.is_removable(mount.major, mount.minor);
}

std::optional<DriveType> ExtraDriveType(const MountEntry& mount, const MountProbes& probes) {
  if (IsAtOrUnderAny(mount.mount_point, kNeverDriveFolders)) return std::nullopt;
  std::optional<DriveType> type = TypeByKind(mount);
  if (!type) return std::nullopt;
  if (*type == DriveType::kRamDisk && IsAtOrUnderAny(mount.mount_point, kSystemRamFolders)) {
    return std::nullopt;
  }
  if (*type == DriveType::kRemote) return type;
  if (probes.is_folder && !probes.is_folder(mount.mount_point)) return std::nullopt;
  if (*type == DriveType::kFixed && AsksRemovable(probes, mount)) return DriveType::kRemovable;
  return type;
}

// The root is always C:, whatever it is: an overlay or a squashfs as "/" is the system itself.
DriveType RootDriveType(const MountEntry* root, const MountProbes& probes) {
  if (root == nullptr) return DriveType::kFixed;
  std::optional<DriveType> type = TypeByKind(*root);
  if (!type) return DriveType::kFixed;
  if (*type == DriveType::kFixed && AsksRemovable(probes, *root)) return DriveType::kRemovable;
  return *type;
}

bool ReadsOne(const std::string& path) {
  std::ifstream file(path);
  char first = 0;
  return file.get(first) && first == '1';
}

bool FileExists(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0;
}

}  // namespace

DriveMap DrivesFromMounts(const std::vector<MountEntry>& mounts, const MountProbes& probes) {
  // A later mount on the same point hides the earlier one.
  std::unordered_map<std::string_view, size_t> last_at;
  for (size_t i = 0; i < mounts.size(); ++i) last_at[mounts[i].mount_point] = i;
  auto visible = [&](size_t i) { return last_at.at(mounts[i].mount_point) == i; };

  const MountEntry* root = nullptr;
  if (auto found = last_at.find("/"); found != last_at.end()) root = &mounts[found->second];
  DriveMap map;
  map.Add(Drive{'C', "/", RootDriveType(root, probes)});

  char next = kFirstExtraLetter;
  for (size_t i = 0; i < mounts.size() && next <= kLastLetter; ++i) {
    const MountEntry& mount = mounts[i];
    if (!visible(i) || mount.mount_point == "/") continue;
    std::optional<DriveType> type = ExtraDriveType(mount, probes);
    if (!type) continue;
    map.Add(Drive{next, mount.mount_point, *type});
    ++next;
  }
  return map;
}

MountProbes SystemMountProbes() {
  MountProbes probes;
  probes.is_removable = [](unsigned major, unsigned minor) {
    std::string device = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    // A partition has no "removable" of its own; its disk, the folder above it, has.
    std::string own = device + "/removable";
    return FileExists(own) ? ReadsOne(own) : ReadsOne(device + "/../removable");
  };
  probes.is_folder = [](const std::string& mount_point) {
    struct stat status;
    return ::fstatat(AT_FDCWD, mount_point.c_str(), &status, AT_NO_AUTOMOUNT) == 0 &&
           S_ISDIR(status.st_mode);
  };
  return probes;
}

DriveMap DetectMountedDrives() {
  Result<std::string> text = ReadMountInfoText();
  return DrivesFromMounts(text ? ParseMountInfo(*text) : std::vector<MountEntry>{},
                          SystemMountProbes());
}

}  // namespace quarn
