#include "platform/unnamed_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/path_names.h"
#include "platform/posix_file.h"

namespace quarn {
namespace {

std::string TemporaryFolder() {
  const char* folder = getenv("TMPDIR");
  return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

}  // namespace

Result<int> CreateUnnamedDescriptor(const std::string& chosen_folder) {
  const std::string folder = chosen_folder.empty() ? TemporaryFolder() : chosen_folder;
  int descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  // Some file systems cannot make a file without a name: one is made and unlinked at once,
  // so only a crash in between could leave it.
  if (descriptor < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    std::string pattern = folder + "/.quarn-unnamed-XXXXXX";
    descriptor = mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor >= 0) unlink(pattern.c_str());
  }
  if (descriptor < 0) {
    return Status::Error(
        PathMessage("cannot create a temporary file in", folder, ErrnoText(errno)));
  }
  return descriptor;
}

Result<std::unique_ptr<File>> CreateUnnamedFile(const std::string& folder) {
  Result<int> descriptor = CreateUnnamedDescriptor(folder);
  if (!descriptor) return descriptor.status();
  return std::unique_ptr<File>(std::make_unique<PosixFile>(*descriptor, 0, 0));
}

}  // namespace quarn
