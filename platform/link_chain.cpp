#include "platform/link_chain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/path_names.h"

namespace quarn {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

Result<std::string> ReadLinkTarget(const std::string& path) {
  // A link may change between a look at its size and the read: read until it fits.
  std::vector<char> target(256);
  ssize_t length;
  while ((length = readlink(path.c_str(), target.data(), target.size())) >= 0 &&
         static_cast<size_t>(length) == target.size()) {
    target.resize(target.size() * 2);
  }
  if (length < 0) return Status::Error(PathMessage("cannot read the link", path, ErrnoText(errno)));
  return std::string(target.data(), static_cast<size_t>(length));
}

Result<std::string> FollowLinkChain(const std::string& path) {
  std::string current = path;
  for (int followed = 0; followed <= kMaxLinkChain; ++followed) {
    struct stat status;
    if (lstat(current.c_str(), &status) != 0) {
      if (errno == ENOENT) return current;
      return Status::Error(PathMessage("cannot examine", current, ErrnoText(errno)));
    }
    if (!S_ISLNK(status.st_mode)) return current;
    Result<std::string> target = ReadLinkTarget(current);
    if (!target) return target.status();
    const std::string& next = *target;
    if (next.empty()) {
      return Status::Error(PathMessage("cannot follow", current, "the link is empty"));
    }
    current = next.front() == '/' ? next : JoinPath(FolderOf(current), next);
  }
  return Status::Error(PathMessage("cannot follow", path, ErrnoText(ELOOP)));
}

}  // namespace quarn
