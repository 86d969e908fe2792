#include "cli/version_report.h"

#include "engine/database_loader.h"
#include "engine/database_version.h"
#include "platform/registry_document.h"

namespace quarn {

std::string DatabaseVersionLine(FileSystem& files, SettingsStore& settings,
                                const std::string& bundled_directory) {
  std::string folder_path = bundled_directory;
  if (Result<RegistryDocument> stored = settings.Load()) {
    const std::string chosen = stored->ReadText(kProgramKey, "DAT").value_or("");
    if (!chosen.empty()) folder_path = chosen;
  }
  auto folder = files.OpenFolder(folder_path);
  if (!folder) return "database: none (" + folder.message() + ")";
  auto image = LoadDatabaseFile(**folder, kSignatureFileName);
  if (!image) {
    const std::string cause = image.message().empty() ? "cannot be read" : image.message();
    return "database: none in " + folder_path + " (" + cause + ")";
  }
  return DatabaseVersionText(ReadDatabaseVersion(*image), folder_path);
}

}  // namespace quarn
