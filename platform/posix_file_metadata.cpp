// PosixFile's facts beyond bytes, owner, mode and times: extended attributes, the inode
// flags chattr changes, and where a sparse file keeps no storage.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix_file.h"

namespace quarn {
namespace {

// What an owner (or root) can change with chattr on a regular file. The rest (extents,
// inline data, encryption, verity...) is the file system's own business.
constexpr uint32_t kChangeableFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL |
                                      FS_IMMUTABLE_FL | FS_APPEND_FL | FS_NODUMP_FL |
                                      FS_NOATIME_FL | FS_NOCOMP_FL | FS_JOURNAL_DATA_FL |
                                      FS_NOTAIL_FL | FS_NOCOW_FL | FS_DAX_FL | FS_PROJINHERIT_FL;
// A file with these can no longer be written, renamed over or removed.
constexpr uint32_t kBarringFlags = FS_IMMUTABLE_FL | FS_APPEND_FL;

bool FileSystemKeepsNone(int error) {
  return error == ENOTSUP || error == ENOTTY || error == ENOSYS || error == EINVAL;
}

// One of flistxattr and fgetxattr: asks for the size, then for the bytes, and again when
// they grew in between.
template <typename Call>
std::optional<std::vector<char>> ReadGrowing(Call call) {
  for (;;) {
    const ssize_t size = call(nullptr, 0);
    if (size < 0) return std::nullopt;
    std::vector<char> bytes(static_cast<size_t>(size));
    const ssize_t got = call(bytes.data(), bytes.size());
    if (got >= 0) {
      bytes.resize(static_cast<size_t>(got));
      return bytes;
    }
    if (errno != ERANGE) return std::nullopt;
  }
}

}  // namespace

std::optional<std::vector<ExtendedAttribute>> PosixFile::GetExtendedAttributes() {
  std::vector<ExtendedAttribute> attributes;
  const auto names =
      ReadGrowing([&](char* buffer, size_t size) { return flistxattr(descriptor_, buffer, size); });
  if (!names) {
    if (FileSystemKeepsNone(errno)) return attributes;
    return std::nullopt;
  }
  for (size_t at = 0; at < names->size();) {
    const std::string name(names->data() + at);
    at += name.size() + 1;
    const auto value = ReadGrowing([&](char* buffer, size_t size) {
      return fgetxattr(descriptor_, name.c_str(), buffer, size);
    });
    if (!value) {
      if (errno == ENODATA) continue;  // removed since the list was read
      return std::nullopt;
    }
    attributes.push_back({name, std::vector<uint8_t>(value->begin(), value->end())});
  }
  return attributes;
}

bool PosixFile::SetExtendedAttribute(const ExtendedAttribute& attribute) {
  return fsetxattr(descriptor_, attribute.name.c_str(), attribute.value.data(),
                   attribute.value.size(), 0) == 0;
}

bool PosixFile::RemoveExtendedAttribute(const std::string& name) {
  return fremovexattr(descriptor_, name.c_str()) == 0 || errno == ENODATA;
}

std::optional<uint32_t> PosixFile::GetFlags() {
  // The ioctl is declared with a long but reads and writes an int, as chattr passes it.
  int flags = 0;
  if (ioctl(descriptor_, FS_IOC_GETFLAGS, &flags) == 0) return static_cast<uint32_t>(flags);
  if (FileSystemKeepsNone(errno)) return 0u;
  return std::nullopt;
}

bool PosixFile::SetFlags(uint32_t flags) {
  const uint32_t wanted = flags & kChangeableFlags;
  if ((wanted & kBarringFlags) != 0) return false;
  const std::optional<uint32_t> current = GetFlags();
  if (!current) return false;
  const uint32_t next = (*current & ~kChangeableFlags) | wanted;
  if (next == *current) return true;
  int value = static_cast<int>(next);
  return ioctl(descriptor_, FS_IOC_SETFLAGS, &value) == 0;
}

std::optional<uint64_t> PosixFile::NextData(uint64_t offset) {
  const off_t found = lseek(descriptor_, static_cast<off_t>(offset), SEEK_DATA);
  if (found >= 0) return static_cast<uint64_t>(found);
  if (errno == ENXIO) return Size();  // nothing but a hole up to the end, or past it
  return File::NextData(offset);
}

std::optional<uint64_t> PosixFile::NextHole(uint64_t offset) {
  const off_t found = lseek(descriptor_, static_cast<off_t>(offset), SEEK_HOLE);
  if (found >= 0) return static_cast<uint64_t>(found);
  if (errno == ENXIO) return Size();
  return File::NextHole(offset);
}

}  // namespace quarn
