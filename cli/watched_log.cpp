#include "cli/watched_log.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/forwarding_file.h"
#include "platform/path_names.h"

namespace quarn {
namespace {

// Says so once, however many writes fail after the first.
class LogTrouble {
 public:
  explicit LogTrouble(std::function<void(const std::string&)> report)
      : report_(std::move(report)) {}

  void Report(const std::string& cause) {
    if (reported_) return;
    reported_ = true;
    report_(cause + "; the scan goes on without a complete log");
  }

 private:
  std::function<void(const std::string&)> report_;
  bool reported_ = false;
};

// The log file, owned here before the base that writes through it is made.
struct OwnedLogFile {
  std::unique_ptr<File> file;
};

class WatchedFile : private OwnedLogFile, public ForwardingFile {
 public:
  WatchedFile(std::unique_ptr<File> file, std::string path, std::shared_ptr<LogTrouble> trouble)
      : OwnedLogFile{std::move(file)},
        ForwardingFile(*OwnedLogFile::file),
        path_(std::move(path)),
        trouble_(std::move(trouble)) {}

  uint32_t Write(const void* buffer, uint32_t length) override {
    const uint32_t written = ForwardingFile::Write(buffer, length);
    if (written < length) trouble_->Report(PathMessage("cannot write", path_, "write failed"));
    return written;
  }

 private:
  std::string path_;
  std::shared_ptr<LogTrouble> trouble_;
};

// The log's folder as ScanLog::Open sees it: the files it opens or creates come back
// watched, and the causes of a failed open and a failed create are kept for the report.
class WatchedFolder : public Folder {
 public:
  WatchedFolder(Folder& folder, std::shared_ptr<LogTrouble> trouble)
      : folder_(folder), trouble_(std::move(trouble)) {}

  Result<std::unique_ptr<File>> OpenFile(const std::string& name, OpenMode mode) override {
    auto opened = folder_.OpenFile(name, mode);
    if (!opened) {
      open_failure_ = opened.message();
      return opened;
    }
    return Watched(std::move(opened.value()), name);
  }
  Result<std::unique_ptr<File>> CreateFile(const std::string& name, uint32_t mode) override {
    auto created = folder_.CreateFile(name, mode);
    if (!created) {
      create_failure_ = created.message();
      return created;
    }
    return Watched(std::move(created.value()), name);
  }

  // Why the log `name` could be neither opened nor created. When something of that name
  // exists (a FIFO, a folder, a device, a file that may not be written), the create failed
  // only because of it and the open's cause is the one that tells; when nothing does, the
  // create's cause does (a folder that may not be written).
  std::string FailureOf(const std::string& name) {
    if (create_failure_.empty()) return open_failure_;
    auto entries = folder_.List();
    const bool exists =
        entries.ok() && std::any_of(entries->begin(), entries->end(),
                                    [&](const FolderEntry& entry) { return entry.name == name; });
    return exists && !open_failure_.empty() ? open_failure_ : create_failure_;
  }
  Result<std::vector<FolderEntry>> List() override { return folder_.List(); }
  Result<std::optional<FileInfo>> Examine(const std::string& name) override {
    return folder_.Examine(name);
  }
  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& name) override {
    return folder_.OpenFolder(name);
  }
  Status CreateFolder(const std::string& name) override { return folder_.CreateFolder(name); }
  Status Rename(const std::string& from, const std::string& to, RenameMode mode) override {
    return folder_.Rename(from, to, mode);
  }
  Status Delete(const std::string& name) override { return folder_.Delete(name); }
  const std::string& Path() const override { return folder_.Path(); }
  uint64_t Mount() const override { return folder_.Mount(); }
  FolderIdentity Identity() const override { return folder_.Identity(); }
  Result<std::unique_ptr<Folder>> OpenParent() override { return folder_.OpenParent(); }

 private:
  std::unique_ptr<File> Watched(std::unique_ptr<File> file, const std::string& name) {
    return std::make_unique<WatchedFile>(std::move(file), JoinPath(folder_.Path(), name), trouble_);
  }

  Folder& folder_;
  std::shared_ptr<LogTrouble> trouble_;
  std::string open_failure_;
  std::string create_failure_;
};

}  // namespace

bool OpenWatchedLog(FileSystem& files, const std::string& folder_path, const std::string& name,
                    ScanLog& log, std::function<void(const std::string&)> report) {
  auto trouble = std::make_shared<LogTrouble>(std::move(report));
  auto folder = files.OpenFolder(folder_path);
  if (!folder) {
    trouble->Report(folder.message());
    return false;
  }
  WatchedFolder watched(**folder, trouble);
  if (log.Open(watched, name)) return true;
  trouble->Report(watched.FailureOf(name));
  return false;
}

}  // namespace quarn
