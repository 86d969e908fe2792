#include "dbtool/database_files.h"

#include <algorithm>

#include "engine/database_loader.h"
#include "engine/descramble.h"
#include "platform/file_contents.h"
#include "platform/path_names.h"

namespace quarn {
namespace {

constexpr uint64_t kMaxSourceSize = 64ull << 20;

Result<DatabaseImage> ReadImage(Folder& folder, std::string_view name) {
  std::string path = JoinPath(folder.Path(), name);
  auto bytes = ReadWholeFile(folder, std::string(name), kMaxDatabaseFileSize);
  if (!bytes) return bytes.status();
  if (bytes->size() <= kDatabaseHeaderSize) {
    return Status::Error(path + ": " + std::to_string(bytes->size()) +
                         " bytes hold no image (a database has a 512-byte header, then data)");
  }
  DatabaseImage image;
  uint8_t* data = image.Allocate(bytes->size() - kDatabaseHeaderSize);
  std::copy(bytes->begin() + kDatabaseHeaderSize, bytes->end(), data);
  Descramble(data, image.size());
  return image;
}

bool EndsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

SourceText AsSource(const std::string& path, const std::vector<uint8_t>& bytes) {
  return SourceText{path, std::string(bytes.begin(), bytes.end())};
}

}  // namespace

Result<DatabasePair> ReadDatabasePair(FileSystem& files, const std::string& folder_path) {
  auto folder = files.OpenFolder(folder_path);
  if (!folder) return folder.status();
  auto signatures = ReadImage(**folder, kSignatureFileName);
  if (!signatures) return signatures.status();
  auto names = ReadImage(**folder, kNameFileName);
  if (!names) return names.status();
  return DatabasePair{std::move(signatures.value()), std::move(names.value())};
}

Status WriteDatabasePair(FileSystem& files, const std::string& folder_path,
                         const DatabaseFiles& database) {
  if (Status created = files.CreateFolders(folder_path); !created) return created;
  auto folder = files.OpenFolder(folder_path);
  if (!folder) return folder.status();
  if (Status s =
          WriteFileAtomically(**folder, std::string(kSignatureFileName), database.signatures);
      !s) {
    return s;
  }
  return WriteFileAtomically(**folder, std::string(kNameFileName), database.names);
}

Result<std::vector<SourceText>> ReadSourceTexts(FileSystem& files,
                                                const std::vector<std::string>& paths) {
  std::vector<SourceText> sources;
  for (const std::string& path : paths) {
    auto folder = files.OpenFolder(path);
    if (!folder) {
      auto bytes = ReadWholeFile(files, path, kMaxSourceSize);
      if (!bytes) return bytes.status();
      sources.push_back(AsSource(path, *bytes));
      continue;
    }
    auto entries = (*folder)->List();
    if (!entries) return entries.status();
    std::vector<std::string> names;
    for (const FolderEntry& entry : *entries) {
      if (entry.kind == EntryKind::kFile && EndsWith(entry.name, ".qsig"))
        names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) return Status::Error(path + ": the folder holds no .qsig source");
    for (const std::string& name : names) {
      auto bytes = ReadWholeFile(**folder, name, kMaxSourceSize);
      if (!bytes) return bytes.status();
      sources.push_back(AsSource(JoinPath(path, name), *bytes));
    }
  }
  return sources;
}

}  // namespace quarn
