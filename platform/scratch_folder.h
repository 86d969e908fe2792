#pragma once

// For tests only: a fresh host folder that is removed, with everything in it, when the
// object goes.

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace quarn {

class ScratchFolder {
 public:
  // Made under $QUARN_TEST_TMP (created when missing) if set, else /tmp. path() is empty
  // when no folder could be made.
  ScratchFolder() {
    const char* base = getenv("QUARN_TEST_TMP");
    std::string parent = base != nullptr && base[0] != '\0' ? base : "/tmp";
    MakeFolders(parent);
    std::string pattern = parent + "/quarn-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    if (path_.empty()) return;
    // A test may leave a folder without write or search permission; give them back first.
    nftw(path_.c_str(), &AllowEverything, 16, FTW_PHYS);
    nftw(path_.c_str(), &RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string Child(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  static void MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      mkdir(path.substr(0, slash).c_str(), 0777);
    }
    mkdir(path.c_str(), 0777);
  }
  static int AllowEverything(const char* path, const struct stat* status, int type, FTW*) {
    if (type == FTW_D || type == FTW_DNR) chmod(path, (status->st_mode & 07777) | S_IRWXU);
    return 0;
  }
  static int RemoveOne(const char* path, const struct stat*, int, FTW*) {
    remove(path);
    return 0;
  }

  std::string path_;
};

}  // namespace quarn
