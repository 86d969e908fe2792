// SPDX-License-Identifier: Apache-2.0
#include "shell/data_folder.h"

#include <optional>

#include "engine/database_loader.h"
#include "engine/database_version.h"
#include "platform/executable_location.h"
#include "platform/first_run.h"
#include "platform/posix_folder.h"
#include "platform/registry_document.h"

namespace quarn {
namespace {

Result<DatabaseVersion> VersionIn(FileSystem& files, const std::string& folder_path) {
  Result<std::unique_ptr<Folder>> folder = files.OpenFolder(folder_path);
  if (!folder) return folder.status();
  Result<DatabaseImage> image = LoadDatabaseFile(**folder, kSignatureFileName);
  if (!image) {
    return Status::Error(image.message().empty() ? "cannot be read" : image.message());
  }
  return ReadDatabaseVersion(*image);
}

// The bundled database's version when it is to replace the one in `data_dir`: newer, or the
// copy cannot be read. Nothing when the bundle itself cannot be read.
std::optional<DatabaseVersion> NewerBundle(FileSystem& files, const std::string& bundled_dir,
                                           const std::string& data_dir) {
  if (bundled_dir.empty() || data_dir == bundled_dir) return std::nullopt;
  Result<DatabaseVersion> bundled = VersionIn(files, bundled_dir);
  if (!bundled) return std::nullopt;
  Result<DatabaseVersion> copy = VersionIn(files, data_dir);
  if (copy && !IsNewerDatabase(*bundled, *copy)) return std::nullopt;
  return *bundled;
}

std::string StoredDataDirectory(SettingsStore& settings) {
  Result<RegistryDocument> stored = settings.Load();
  return stored ? stored->ReadText(kProgramKey, "DAT").value_or("") : "";
}

}  // namespace

Result<std::string> PrepareDataDirectory(SettingsStore& store, FileSystem& files,
                                         const std::string& bundled_dir,
                                         const std::string& user_data_dir, BundleRefresh refresh) {
  Result<std::string> folder = EnsureDataDirectory(store, files, bundled_dir, user_data_dir);
  if (!folder || refresh == BundleRefresh::kSkip || *folder != user_data_dir) return folder;
  if (!NewerBundle(files, bundled_dir, *folder)) return folder;
  // QUARN.DAT last: a refresh stopped halfway leaves the old version there, and the next
  // start tries again.
  Status refreshed =
      RefreshFromBundle(files, bundled_dir, *folder, std::string(kSignatureFileName));
  if (!refreshed) return refreshed;
  return folder;
}

std::string DatabaseVersionLine(FileSystem& files, SettingsStore& settings,
                                const std::string& bundled_dir, const std::string& user_data_dir) {
  std::string folder_path = StoredDataDirectory(settings);
  if (folder_path.empty()) folder_path = bundled_dir;
  Result<DatabaseVersion> version = VersionIn(files, folder_path);
  if (!version) return "database: none in " + folder_path + " (" + version.message() + ")";
  std::string line = DatabaseVersionText(*version, folder_path);
  if (folder_path != user_data_dir) return line;
  if (std::optional<DatabaseVersion> bundled = NewerBundle(files, bundled_dir, folder_path)) {
    line += "; replaced at the next start by " + DatabaseVersionText(*bundled, bundled_dir);
  }
  return line;
}

std::string InstalledDatabaseVersionLine() {
  std::unique_ptr<FileSystem> files = OpenPosixFileSystem();
  std::unique_ptr<SettingsStore> settings = OpenFileSettingsStore(DefaultSettingsPath());
  return DatabaseVersionLine(*files, *settings, BundledDataDirectory(), DefaultUserDataDirectory());
}

}  // namespace quarn
