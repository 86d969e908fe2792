#include "platform/executable_location.h"

#include <unistd.h>

#include <filesystem>
#include <vector>

namespace quarn {

std::string ExecutableDirectory() {
  // readlink does not say whether it cut the name short, so grow until it fits.
  for (size_t capacity = 256; capacity <= (size_t{1} << 16); capacity *= 2) {
    std::vector<char> buffer(capacity);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return "";
    if (static_cast<size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(length));
      size_t slash = path.rfind('/');
      if (slash == std::string::npos) return "";
      return slash == 0 ? "/" : path.substr(0, slash);
    }
  }
  return "";
}

std::string BundledDataDirectory() {
  std::string executable_directory = ExecutableDirectory();
  if (executable_directory.empty()) return "";
  // The executable's folder comes with links resolved, so dropping ".." by text is exact.
  std::string normal =
      std::filesystem::path(executable_directory + "/../share/quarnexp").lexically_normal();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

}  // namespace quarn
