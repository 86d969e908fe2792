#pragma once

// For tests only: a fresh host folder that is removed, with everything in it, when the
// object goes.

#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

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

// Runs `action`, which should refuse the FIFO at `fifo` without waiting on it. Should it
// still be waiting after `patience`, a writer opens the FIFO (again, until the action is
// done), so that a test of that refusal fails instead of hanging. True when the action
// finished without that help.
template <typename Action>
bool FinishesWithoutAWriter(const std::string& fifo, Action action,
                            std::chrono::milliseconds patience = std::chrono::seconds(10)) {
  std::atomic<bool> done{false};
  std::thread acting([&] {
    action();
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!done && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const bool unaided = done;
  while (!done) {
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) close(writer);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  acting.join();
  return unaided;
}

}  // namespace quarn
