// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "containers/container.h"
#include "containers/entry_spool.h"
#include "platform/path_names.h"
#include "shell/container_limits.h"
#include "shell/folder_walk.h"

namespace quarn {

// An entry's ratio is judged once it gave this much, and against at least one block of the
// archive: decoders read ahead, so a small entry may take no packed byte of its own.
inline constexpr uint64_t kRatioFloor = uint64_t{1} << 20;
inline constexpr uint64_t kPackedFloor = 64 * 1024;

// Why an entry's data was not all read, and whether the rest of the archive goes too.
struct ReadOutcome {
  std::optional<IncompleteReason> stopped;
  bool archive_done = false;
};

// Reads the archive's current entry into `spool` within `limits`, counting what it unpacks in
// `budget`: past the size budget, the time or a stop nothing more of the archive is read;
// past the file size or the ratio, or where no temporary file can be had, only the entry is
// left. An entry that lies in the archive as it is is referred to, not read. `header_size`:
// the size the entry's header gives, if any, which only sizes the memory taken at first.
ReadOutcome SpoolEntry(const ContainerLimits& limits, ContainerBudget& budget,
                       const std::atomic<bool>& stop, ArchiveReader& archive, EntrySpool& spool,
                       std::optional<uint64_t> header_size);

// One spooled entry as a folder that holds it alone, so that the walk's per-file steps (the
// filter, the containers inside, the detectors) take it as they take any file.
class EntryFolder : public Folder {
 public:
  EntryFolder(std::string name, const EntrySpool& spool, std::string path)
      : name_(std::move(name)), spool_(spool), path_(std::move(path)) {}

  Result<std::vector<FolderEntry>> List() override {
    return std::vector<FolderEntry>{{name_, EntryKind::kFile, 0}};
  }
  Result<std::unique_ptr<File>> OpenFile(const std::string& name, OpenMode mode) override {
    if (name != name_) return Refused("cannot open", name, ErrnoText(ENOENT));
    if (mode != OpenMode::kRead) return Refused("cannot open", name, kReadOnly);
    return spool_.Open();
  }
  Result<std::optional<FileInfo>> Examine(const std::string& name) override {
    if (name != name_) return std::optional<FileInfo>();
    FileInfo info;
    info.size = spool_.size();
    return std::optional<FileInfo>(info);
  }
  Result<std::unique_ptr<File>> CreateFile(const std::string& name, uint32_t) override {
    return Refused("cannot create", name, kReadOnly);
  }
  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& name) override {
    return Refused("cannot open folder", name, ErrnoText(ENOENT));
  }
  Status CreateFolder(const std::string& name) override {
    return Refused("cannot create folder", name, kReadOnly);
  }
  Status Rename(const std::string& from, const std::string&, RenameMode) override {
    return Refused("cannot rename", from, kReadOnly);
  }
  Status Delete(const std::string& name) override {
    return Refused("cannot delete", name, kReadOnly);
  }
  const std::string& Path() const override { return path_; }
  uint64_t Mount() const override { return 0; }
  FolderIdentity Identity() const override { return {}; }
  Result<std::unique_ptr<Folder>> OpenParent() override {
    return Refused("cannot open the folder of", name_, kReadOnly);
  }

 private:
  static constexpr std::string_view kReadOnly = "an archive is read only";
  Status Refused(std::string_view action, const std::string& name, std::string_view cause) const {
    return Status::Error(PathMessage(action, JoinPath(path_, name), cause));
  }

  std::string name_;
  const EntrySpool& spool_;
  std::string path_;
};

}  // namespace quarn
