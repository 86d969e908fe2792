#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace quarn {

// One line of the kernel's mount table (/proc/self/mountinfo), with the octal escapes of its
// paths ("\040" for a space) decoded.
struct MountEntry {
  unsigned major = 0;  // the device number; 0 for file systems without a block device
  unsigned minor = 0;
  std::string root;         // the folder of the file system that is mounted ("/" when whole)
  std::string mount_point;  // where it appears
  std::string fs_type;      // "ext4", "tmpfs", "fuse.sshfs", ...
  std::string source;       // "/dev/sda1", "server:/export", ...
  bool operator==(const MountEntry&) const = default;
};

// The entries of mountinfo text, in the order given (the order of mounting). A line without
// the shape "ID PARENT MAJ:MIN ROOT POINT OPTIONS [OPTIONAL...] - TYPE SOURCE ..." is skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The text of a mount table file, at most `kMaxMountInfoBytes` of it (whole lines); fails
// with the file name and the cause when it cannot be read.
inline constexpr size_t kMaxMountInfoBytes = 8 << 20;
Result<std::string> ReadMountInfoText(const std::string& path = "/proc/self/mountinfo");

}  // namespace quarn
