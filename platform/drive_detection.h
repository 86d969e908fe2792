#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/drive_map.h"
#include "platform/mount_table.h"

namespace quarn {

// What detection asks the machine about a mount, apart from the mount table itself.
struct MountProbes {
  // True when block device MAJ:MIN holds removable media (sysfs "removable" of the device or,
  // for a partition, of its disk).
  std::function<bool(unsigned major, unsigned minor)> is_removable;
  // True when the mount point is a folder; a single file mounted over another (as containers
  // do with /etc/hosts) is not a drive. Never asked about network file systems, whose server
  // may not answer.
  std::function<bool(const std::string& mount_point)> is_folder;
};

// The drives that a mount table makes. "/" is C: (fixed unless it is removable, a CD-ROM, a
// network or a RAM file system); further file systems take D: onwards in mount order, up to
// Z:, and the rest are left without a letter:
//   iso9660, udf                              CD-ROM
//   nfs, nfs4, cifs, smb3, smbfs, fuse.sshfs  remote
//   tmpfs, ramfs                              RAM disk, except at or under /run or /tmp
//   any other, removable device               removable
//   any other                                 fixed
// Never drives: whatever is mounted at or under /dev, /proc or /sys; pseudo file systems
// (proc, sysfs, cgroup, autofs, ...); overlay file systems other than the root (another
// container's root); squashfs package images (snaps, AppImages), which would use up letters
// and hold no user files; FUSE file systems other than sshfs and fuseblk (desktop portals,
// virtual views); mount points that are not folders. When a mount point is mounted over, only
// the last mount counts. A probe left empty answers "not removable" and "a folder".
DriveMap DrivesFromMounts(const std::vector<MountEntry>& mounts, const MountProbes& probes);

// The probes of this machine: sysfs under /sys/dev/block, and stat() without triggering an
// automount.
MountProbes SystemMountProbes();

// The drives of this machine's mounted file systems. When the mount table cannot be read the
// map is C: alone, on "/".
DriveMap DetectMountedDrives();

}  // namespace quarn
