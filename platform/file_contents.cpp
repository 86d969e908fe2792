#include "platform/file_contents.h"

#include <algorithm>

#include "platform/path_names.h"

namespace quarn {

namespace {

// The open file's size, refused past `limit`.
Result<uint64_t> SizeWithin(File& file, const std::string& path, uint64_t limit) {
  auto size = file.Size();
  if (!size) return Status::Error(PathMessage("read", path, "its size cannot be found"));
  if (*size > limit) {
    return Status::Error(
        PathMessage("read", path, "the file is larger than " + std::to_string(limit) + " bytes"));
  }
  return *size;
}

Result<std::vector<uint8_t>> ReadAll(File& file, const std::string& path, uint64_t size) {
  std::vector<uint8_t> bytes(size);
  uint64_t done = 0;
  while (done < bytes.size()) {
    const auto asked = static_cast<uint32_t>(std::min<uint64_t>(bytes.size() - done, 1u << 30));
    const uint32_t got = file.Read(bytes.data() + done, asked);
    if (got == 0) break;
    done += got;
  }
  if (done != bytes.size()) {
    return Status::Error(PathMessage("read", path, "the file changed while it was read"));
  }
  return bytes;
}

}  // namespace

Result<std::vector<uint8_t>> ReadWholeFile(Folder& folder, const std::string& name,
                                           uint64_t limit) {
  const std::string path = JoinPath(folder.Path(), name);
  auto file = folder.OpenFile(name, OpenMode::kRead);
  if (!file) return file.status();
  Result<uint64_t> size = SizeWithin(**file, path, limit);
  if (!size) return size.status();
  return ReadAll(**file, path, *size);
}

Result<std::vector<uint8_t>> ReadWholeFile(FileSystem& files, const std::string& path,
                                           uint64_t limit) {
  auto [folder_path, name] = SplitHostPath(path);
  auto folder = files.OpenFolder(folder_path);
  if (!folder) return folder.status();
  return ReadWholeFile(**folder, name, limit);
}

Status WriteFileAtomically(Folder& folder, const std::string& name,
                           const std::vector<uint8_t>& bytes, RenameMode mode) {
  const std::span<const uint8_t> whole(bytes);
  return WriteFileAtomically(folder, name, std::span(&whole, 1), mode);
}

Status WriteFileAtomically(Folder& folder, const std::string& name,
                           std::span<const std::span<const uint8_t>> pieces, RenameMode mode) {
  std::string path = JoinPath(folder.Path(), name);
  std::string temporary;
  Result<std::unique_ptr<File>> file = Status::Error("");
  for (int attempt = 0; attempt < 16 && !file; ++attempt) {
    temporary = TemporaryNameFor(name);
    file = folder.CreateFile(temporary);
  }
  if (!file) return file.status();
  bool written = true;
  for (const std::span<const uint8_t> bytes : pieces) {
    uint64_t done = 0;
    while (written && done < bytes.size()) {
      uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(bytes.size() - done, 1u << 30));
      uint32_t put = (*file)->Write(bytes.data() + done, chunk);
      written = put == chunk;
      done += put;
    }
  }
  if (!written || !(*file)->Flush()) {
    file->reset();
    folder.Delete(temporary);
    return Status::Error(PathMessage("write", path, "the data could not be written"));
  }
  file->reset();
  Status renamed = folder.Rename(temporary, name, mode);
  if (!renamed) folder.Delete(temporary);
  return renamed;
}

std::pair<std::string, std::string> SplitHostPath(const std::string& path) {
  std::string trimmed = TrimTrailingSlashes(path);
  size_t slash = trimmed.find_last_of('/');
  if (slash == std::string::npos) return {".", trimmed};
  return {slash == 0 ? "/" : trimmed.substr(0, slash), trimmed.substr(slash + 1)};
}

}  // namespace quarn
