#include "shell/database_set.h"

#include "engine/database_loader.h"
#include "engine/database_verifier.h"
#include "imported/imported_detector.h"
#include "platform/posix_folder.h"

namespace quarn {

Result<std::shared_ptr<const DatabaseSet>> LoadDatabaseSet(const std::string& folder) {
  std::unique_ptr<FileSystem> files = OpenPosixFileSystem();
  auto data_folder = files->OpenFolder(folder);
  if (!data_folder) return data_folder.status();
  auto databases = std::make_shared<DatabaseSet>();
  const Status loaded =
      LoadDatabaseImages(**data_folder, &databases->signatures, &databases->names);
  if (!loaded) {
    const std::string cause =
        loaded.message().empty() ? std::string("a database file cannot be read") : loaded.message();
    return Status::Error(folder + ": " + cause);
  }
  // A pair that loads may still be cut short or out of step (an interrupted copy): its
  // sections would find nothing, and every scan would answer OK.
  const std::vector<std::string> problems = VerifyDatabase(databases->signatures, databases->names);
  if (!problems.empty()) return Status::Error(folder + ": " + problems.front());
  databases->version = ReadDatabaseVersion(databases->signatures);
  auto imported = LoadImportedSignatures(*files, folder);
  if (!imported) return imported.status();
  databases->imported = std::move(*imported);
  return std::shared_ptr<const DatabaseSet>(std::move(databases));
}

}  // namespace quarn
