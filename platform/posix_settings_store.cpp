#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/link_chain.h"
#include "platform/posix_file.h"
#include "platform/settings_store.h"
#include "platform/unique_descriptor.h"

namespace quarn {
namespace {

// A settings store is a few kilobytes; a larger file is not one, and reading it whole could
// exhaust memory.
constexpr size_t kMaxStoreBytes = 1 << 20;

// Reads `errno` before anything else can change it.
Status SystemError(const std::string& file, const char* action) {
  int error = errno;
  return Status::Error(file + ": " + action + ": " + std::strerror(error));
}

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

struct StoreContent {
  bool exists = false;
  std::string text;
  mode_t mode = 0;
};

std::pair<std::string, std::string> SplitPath(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

Status ReadStore(const std::string& path, StoreContent& content) {
  // O_NONBLOCK: a FIFO put where the store should be must not hold the program up waiting
  // for a writer; the look that follows refuses it.
  UniqueDescriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return Status::Ok();
    return SystemError(path, "cannot open");
  }
  struct stat info;
  if (fstat(fd.get(), &info) != 0) return SystemError(path, "cannot examine");
  if (!S_ISREG(info.st_mode)) return Status::Error(path + ": " + NotRegularFileCause(info.st_mode));
  content.exists = true;
  content.mode = info.st_mode & 07777;
  char buffer[16384];
  for (;;) {
    ssize_t got = read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return SystemError(path, "cannot read");
    }
    if (got == 0) return Status::Ok();
    if (content.text.size() + static_cast<size_t>(got) > kMaxStoreBytes) {
      return Status::Error(path + ": larger than 1 MiB, not a settings store");
    }
    content.text.append(buffer, static_cast<size_t>(got));
  }
}

Status CreateFolders(const std::string& folder) {
  for (size_t end = 1; end <= folder.size(); ++end) {
    if (end != folder.size() && folder[end] != '/') continue;
    std::string prefix = folder.substr(0, end);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
      return SystemError(prefix, "cannot create the folder");
    }
  }
  return Status::Ok();
}

Status WriteAll(int fd, const std::string& text, const std::string& path) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return SystemError(path, "cannot write");
    }
    done += static_cast<size_t>(wrote);
  }
  return Status::Ok();
}

class FileSettingsStore : public SettingsStore {
 public:
  explicit FileSettingsStore(std::string path) : path_(std::move(path)) {}

  Result<RegistryDocument> Load() override {
    StoreContent content;
    if (Status read = ReadStore(path_, content); !read) return read;
    return Parse(content);
  }

  Status Update(const std::function<void(RegistryDocument&)>& change) override {
    if (SplitPath(path_).second.empty())
      return Status::Error(path_ + ": names a folder, not a file");
    // A store kept as a symbolic link (a dotfile manager's) stays one: the new text replaces
    // the file at the end of the chain, in that file's folder. The lock lies beside that
    // file too, so that every name reaching the same store, the link and the file alike,
    // takes the same lock.
    Result<std::string> resolved = FollowLinkChain(path_);
    if (!resolved) return resolved.status();
    const std::string& store_path = *resolved;
    auto [folder, base] = SplitPath(store_path);
    if (base.empty()) return Status::Error(store_path + ": names a folder, not a file");
    if (Status made = CreateFolders(folder); !made) return made;

    std::string lock_path = store_path + ".lock";
    UniqueDescriptor lock(
        open(lock_path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    if (lock.get() < 0) return SystemError(lock_path, "cannot open");
    while (flock(lock.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return SystemError(lock_path, "cannot lock");
    }

    StoreContent content;
    if (Status read = ReadStore(store_path, content); !read) return read;
    Result<RegistryDocument> document = Parse(content);
    if (!document) return document.status();
    if (change) change(*document);
    std::string text = FormatRegistryText(*document);
    // Nothing to write: the store already reads exactly so.
    if (content.exists && text == content.text) return Status::Ok();

    // The name starts with a dot and carries ".quarn-", so it is never a user's file and a
    // stale one is recognisable.
    std::string pattern = folder + "/." + base + ".quarn-XXXXXX";
    UniqueDescriptor temporary(mkostemp(pattern.data(), O_CLOEXEC));
    if (temporary.get() < 0) {
      return SystemError(pattern, "cannot create a temporary file");
    }
    TemporaryFile cleanup(pattern);
    if (Status wrote = WriteAll(temporary.get(), text, cleanup.path()); !wrote) return wrote;
    // mkostemp creates the file private to its owner; a store that exists keeps its mode.
    if (content.exists && fchmod(temporary.get(), content.mode) != 0) {
      return SystemError(cleanup.path(), "cannot set the mode");
    }
    if (fsync(temporary.get()) != 0) {
      return SystemError(cleanup.path(), "cannot flush");
    }
    if (temporary.Close() != 0) {
      return SystemError(cleanup.path(), "cannot close");
    }
    if (rename(cleanup.path().c_str(), store_path.c_str()) != 0) {
      return SystemError(store_path, "cannot replace");
    }
    cleanup.Release();
    // The lock drops when `lock` closes, after the folder is flushed.
    return SyncFolder(folder);
  }

  const std::string& Location() const override { return path_; }

 private:
  // A store not written yet is an empty one.
  Result<RegistryDocument> Parse(const StoreContent& content) const {
    if (!content.exists) return RegistryDocument();
    return ParseStoreText(content.text, path_);
  }

  // Makes the rename itself durable. A file system that cannot flush a folder (EINVAL) has
  // nothing more to offer, and the store is in place either way.
  Status SyncFolder(const std::string& folder) {
    UniqueDescriptor fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return SystemError(folder, "cannot open");
    if (fsync(fd.get()) != 0 && errno != EINVAL) {
      return SystemError(folder, "cannot flush");
    }
    return Status::Ok();
  }

  std::string path_;
};

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::unique_ptr<SettingsStore> OpenFileSettingsStore(const std::string& path) {
  return std::make_unique<FileSettingsStore>(path);
}

std::string DefaultSettingsPath() {
  if (std::string explicit_path = EnvironmentValue("QUARN_SETTINGS"); !explicit_path.empty()) {
    return explicit_path;
  }
  // A relative XDG_CONFIG_HOME is ignored, as the XDG base directory rules say.
  if (std::string config = EnvironmentValue("XDG_CONFIG_HOME"); config.starts_with('/')) {
    return config + "/quarnexp/settings.reg";
  }
  std::string home = EnvironmentValue("HOME");
  if (home.empty()) {
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
      home = found->pw_dir;
    }
  }
  return home + "/.config/quarnexp/settings.reg";
}

}  // namespace quarn
