#include "imported/quarnx/database_file.h"

#include "imported/quarnx/database_reader.h"
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
                                                                 const std::string& folder_path,
                                                                 ImportedDatabase::Checks checks) {
  auto folder = files.OpenFolder(folder_path);
  if (!folder) return folder.status();
  auto info = (*folder)->Examine(kImportedDatabaseFileName);
  if (!info) return info.status();
  if (!*info) return std::optional<ImportedDatabase>();
  const std::string path = JoinPath(folder_path, kImportedDatabaseFileName);
  // Read where asked, never copied whole nor mapped: the hash rows of millions of signatures
  // stay in the page cache, shared by every scanner, and a file cut short in place under a
  // running scanner fails a lookup instead of ending the process.
  auto file = (*folder)->OpenFile(kImportedDatabaseFileName, OpenMode::kRead);
  if (!file) return file.status();
  const std::optional<uint64_t> size = (*file)->Size();
  if (!size) return Status::Error(PathMessage("read", path, "its size cannot be found"));
  if (*size > kLargestDatabase) {
    return Status::Error(PathMessage(
        "read", path, "the file is larger than " + std::to_string(kLargestDatabase) + " bytes"));
  }
  Result<ImportedDatabase> database =
      ImportedDatabase::Decode(ReaderOfFile(std::move(*file), *size), checks);
  if (!database) return Status::Error(path + ": " + database.message());
  return std::optional<ImportedDatabase>(std::move(*database));
}

Status WriteImportedDatabaseFile(FileSystem& files, const std::string& folder_path,
                                 std::span<const std::span<const uint8_t>> pieces) {
  if (Status made = files.CreateFolders(folder_path); !made) return made;
  auto folder = files.OpenFolder(folder_path);
  if (!folder) return folder.status();
  // An import killed while it wrote left its temporary behind, as large as the database: the
  // next one takes it away. (One running beside this one into the same folder loses its
  // temporary and fails, as one of two would anyway.)
  if (auto entries = (*folder)->List()) {
    for (const FolderEntry& entry : *entries) {
      if (entry.kind == EntryKind::kFile &&
          IsTemporaryNameFor(entry.name, kImportedDatabaseFileName)) {
        (*folder)->Delete(entry.name);
      }
    }
  }
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
