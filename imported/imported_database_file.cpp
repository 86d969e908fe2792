#include "imported/imported_database_file.h"

#include "platform/file_contents.h"
#include "platform/path_names.h"

namespace quarn {
namespace {

// A real database of every form a user may hold stays well below this.
constexpr uint64_t kLargestDatabase = uint64_t{4} << 30;

std::string Counted(uint64_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

Result<std::optional<ImportedDatabase>> ReadImportedDatabaseFile(FileSystem& files,
                                                                 const std::string& folder_path) {
  auto folder = files.OpenFolder(folder_path);
  if (!folder) return folder.status();
  auto info = (*folder)->Examine(kImportedDatabaseFileName);
  if (!info) return info.status();
  if (!*info) return std::optional<ImportedDatabase>();
  const std::string path = JoinPath(folder_path, kImportedDatabaseFileName);
  // Mapped, so the hash rows of millions of signatures stay in the page cache, shared by
  // every scanner, instead of being copied into each.
  auto bytes = MapWholeFile(**folder, kImportedDatabaseFileName, kLargestDatabase);
  if (!bytes) return bytes.status();
  Result<ImportedDatabase> database = ImportedDatabase::Decode(std::move(*bytes));
  if (!database) return Status::Error(path + ": " + database.message());
  return std::optional<ImportedDatabase>(std::move(*database));
}

Status WriteImportedDatabaseFile(FileSystem& files, const std::string& folder_path,
                                 std::span<const std::span<const uint8_t>> pieces) {
  if (Status made = files.CreateFolders(folder_path); !made) return made;
  auto folder = files.OpenFolder(folder_path);
  if (!folder) return folder.status();
  // Replaced by rename, never rewritten: a scanner that has the old file mapped keeps it
  // whole until it ends.
  return WriteFileAtomically(**folder, kImportedDatabaseFileName, pieces);
}

std::string DescribeImportedDatabase(const ImportedDatabase& database) {
  return std::string(kImportedDatabaseFileName) + ": " +
         Counted(database.size(), "imported signature", "imported signatures") + ": " +
         Counted(database.bodies().size(), "pattern", "patterns") + ", " +
         Counted(database.file_hashes(), "file hash", "file hashes") + ", " +
         Counted(database.section_hashes(), "section hash", "section hashes") + "\n";
}

}  // namespace quarn
