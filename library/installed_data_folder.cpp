#include "library/installed_data_folder.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "platform/path_names.h"

namespace quarn {
namespace {

bool IsFolder(const std::string& path) {
  struct stat facts {};
  return stat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
}

}  // namespace

std::string InstalledDataFolder(const std::string& library_file) {
  if (library_file.empty()) return {};
  std::string prefix = ParentPath(library_file);
  // lib/ in the build tree and under most prefixes, lib/<multiarch>/ under Debian's.
  for (int level = 0; level < 2; ++level) {
    prefix = ParentPath(prefix);
    const std::string data = (prefix == "/" ? "" : prefix) + "/share/quarnexp";
    if (IsFolder(data)) return data;
  }
  return {};
}

std::string LoadedLibraryFile() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LoadedLibraryFile), &info) == 0 ||
      info.dli_fname == nullptr) {
    return {};
  }
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return {};
  return resolved;
}

}  // namespace quarn
