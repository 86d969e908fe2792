// SPDX-License-Identifier: Apache-2.0
#include "platform/first_run.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "platform/path_names.h"
#include "platform/registry_document.h"

namespace quarn {
namespace {

constexpr std::string_view kDataValue = "DAT";
constexpr size_t kCopyChunk = 64 * 1024;
// Attempts at a free temporary name before giving up.
constexpr int kTemporaryNameAttempts = 16;

Status CopyBytes(File& source, File& target, const std::string& source_path,
                 const std::string& target_path) {
  std::optional<uint64_t> size = source.Size();
  if (!size) return Status::Error(PathMessage("cannot read", source_path, "size unknown"));
  std::vector<uint8_t> buffer(kCopyChunk);
  uint64_t copied = 0;
  while (copied < *size) {
    uint32_t got = source.Read(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (got == 0) break;
    if (target.Write(buffer.data(), got) != got) {
      return Status::Error(PathMessage("cannot write", target_path, "write failed"));
    }
    copied += got;
  }
  // Read answers 0 for an error as for the end, so a copy shorter than the file is a failure.
  if (copied < *size) {
    return Status::Error(PathMessage("cannot read", source_path, "read failed before the end"));
  }
  if (!target.Flush()) {
    return Status::Error(PathMessage("cannot write", target_path, "flush failed"));
  }
  return Status::Ok();
}

// Copies `name` from `source_folder` into `target_folder` through a temporary name. With
// kNoReplace a file that appears under `name` meanwhile (another program on its first run) is
// kept; with kReplace the copy takes its place.
Status CopyOne(Folder& source_folder, Folder& target_folder, const std::string& name,
               RenameMode mode) {
  std::string source_path = JoinPath(source_folder.Path(), name);
  Result<std::unique_ptr<File>> source = source_folder.OpenFile(name, OpenMode::kRead);
  if (!source) return source.status();

  std::string temporary;
  Result<std::unique_ptr<File>> target = Status::Error("");
  for (int attempt = 0; attempt < kTemporaryNameAttempts && !target; ++attempt) {
    temporary = TemporaryNameFor(name);
    target = target_folder.CreateFile(temporary, 0644);
  }
  if (!target) return target.status();
  std::string temporary_path = JoinPath(target_folder.Path(), temporary);

  Status copied = CopyBytes(**source, **target, source_path, temporary_path);
  target.value().reset();  // closed before the rename
  if (copied) {
    Status renamed = target_folder.Rename(temporary, name, mode);
    if (renamed) return Status::Ok();
    copied = renamed;
  }
  target_folder.Delete(temporary);
  if (mode == RenameMode::kNoReplace && target_folder.OpenFile(name, OpenMode::kRead)) {
    return Status::Ok();
  }
  return copied;
}

// Copies every regular file of `bundled_dir` into `data_dir` with CopyOne, `last_name` after
// all others. With kNoReplace a file already present is skipped.
Status CopyFiles(FileSystem& files, const std::string& bundled_dir, const std::string& data_dir,
                 RenameMode mode, std::string_view last_name) {
  Result<std::unique_ptr<Folder>> source = files.OpenFolder(bundled_dir);
  if (!source) return source.status();
  Result<std::unique_ptr<Folder>> target = files.OpenFolder(data_dir);
  if (!target) return target.status();
  Result<std::vector<FolderEntry>> bundled = (*source)->List();
  if (!bundled) return bundled.status();
  Result<std::vector<FolderEntry>> present = (*target)->List();
  if (!present) return present.status();

  std::set<std::string> skipped;
  if (mode == RenameMode::kNoReplace) {
    for (const FolderEntry& entry : *present) skipped.insert(entry.name);
  }
  std::vector<std::string> names;
  bool has_last = false;
  for (const FolderEntry& entry : *bundled) {
    if (entry.kind != EntryKind::kFile || skipped.count(entry.name) != 0) continue;
    if (entry.name == last_name) {
      has_last = true;
    } else {
      names.push_back(entry.name);
    }
  }
  if (has_last) names.emplace_back(last_name);
  for (const std::string& name : names) {
    Status copied = CopyOne(**source, **target, name, mode);
    if (!copied) return copied;
  }
  return Status::Ok();
}

std::optional<std::string> StoredDataDirectory(const RegistryDocument& document) {
  std::optional<std::string> stored = document.ReadText(kProgramKey, kDataValue);
  if (stored && stored->empty()) return std::nullopt;  // an empty folder name leads nowhere
  return stored;
}

}  // namespace

Result<std::string> EnsureDataDirectory(SettingsStore& store, FileSystem& files,
                                        const std::string& bundled_dir,
                                        const std::string& user_data_dir) {
  Result<RegistryDocument> document = store.Load();
  if (!document) return document.status();
  if (std::optional<std::string> stored = StoredDataDirectory(*document)) return *stored;

  Status made = files.CreateFolders(user_data_dir);
  if (!made) return made;
  Status copied = CopyFiles(files, bundled_dir, user_data_dir, RenameMode::kNoReplace, "");
  if (!copied) return copied;

  std::string result = user_data_dir;
  Status written = store.Update([&](RegistryDocument& fresh) {
    if (std::optional<std::string> stored = StoredDataDirectory(fresh)) {
      result = *stored;
      return;
    }
    fresh.SetValue(kProgramKey, kDataValue, RegistryValue::Text(user_data_dir));
  });
  if (!written) return written;
  return result;
}

Status RefreshFromBundle(FileSystem& files, const std::string& bundled_dir,
                         const std::string& data_dir, std::string_view last_name) {
  return CopyFiles(files, bundled_dir, data_dir, RenameMode::kReplace, last_name);
}

std::string DefaultUserDataDirectory() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  if (data_home != nullptr && data_home[0] == '/') return JoinPath(data_home, "quarnexp");
  const char* home = std::getenv("HOME");
  std::string home_folder = home != nullptr ? home : "";
  if (home_folder.empty()) {
    passwd entry;
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
      home_folder = found->pw_dir;
    }
  }
  if (home_folder.empty()) home_folder = "/";
  return JoinPath(home_folder, ".local/share/quarnexp");
}

}  // namespace quarn
