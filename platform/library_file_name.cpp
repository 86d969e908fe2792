#include "platform/library_file_name.h"

#include "platform/posix_file.h"

namespace quarn {

std::optional<std::string> LibraryFileName(const File& file) {
  const auto* posix = dynamic_cast<const PosixFile*>(&file);
  if (posix == nullptr || posix->descriptor() < 0) return std::nullopt;
  return "/proc/self/fd/" + std::to_string(posix->descriptor());
}

}  // namespace quarn
