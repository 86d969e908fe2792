#include "clean/cleaning_copy.h"

#include <algorithm>
#include <array>

#include "engine/file_reads.h"
#include "platform/path_names.h"

namespace quarn {
namespace {

constexpr uint32_t kCopyChunk = 64 * 1024;
constexpr int kNameAttempts = 16;

Status Failure(Folder& folder, const std::string& name, std::string_view cause) {
  return Status::Error(PathMessage("clean", JoinPath(folder.Path(), name), cause));
}

// What must hold before a copy is begun: the file can be examined, has one name only (its
// other names would keep the virus), and is long enough for `from_offset`.
Result<FileInfo> CheckOriginal(Folder& folder, const std::string& name, File& original,
                               uint64_t from_offset) {
  const std::optional<FileInfo> info = original.GetInfo();
  if (!info) return Failure(folder, name, "the file cannot be examined");
  if (info->link_count > 1) {
    return Failure(folder, name, "the file has other names that would keep the virus");
  }
  if (from_offset > info->size) return Failure(folder, name, "the file is shorter than the virus");
  return *info;
}

// A copy that a crash (or a kill) left behind is removed before the next clean of the same
// file, so stale copies never pile up. Only names the copy machinery makes are touched.
void RemoveStaleCopies(Folder& folder, const std::string& name) {
  auto entries = folder.List();
  if (!entries) return;
  for (const FolderEntry& entry : *entries) {
    if (entry.kind == EntryKind::kFile && IsTemporaryNameFor(entry.name, name)) {
      folder.Delete(entry.name);
    }
  }
}

}  // namespace

CleaningCopy::CleaningCopy(Folder& folder, std::string name, std::string temporary_name,
                           std::unique_ptr<File> file)
    : folder_(folder),
      name_(std::move(name)),
      temporary_name_(std::move(temporary_name)),
      file_(std::move(file)) {}

CleaningCopy::~CleaningCopy() {
  if (committed_) return;
  file_.reset();
  folder_.Delete(temporary_name_);
}

Result<std::unique_ptr<CleaningCopy>> CleaningCopy::Create(Folder& folder, const std::string& name,
                                                           File& original) {
  return CreateTail(folder, name, original, 0, nullptr);
}

Result<std::unique_ptr<CleaningCopy>> CleaningCopy::CreateTail(Folder& folder,
                                                               const std::string& name,
                                                               File& original, uint64_t from_offset,
                                                               bool* write_failed) {
  auto info = CheckOriginal(folder, name, original, from_offset);
  if (!info) return info.status();
  RemoveStaleCopies(folder, name);
  // A random name that happens to exist is simply drawn again.
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string temporary_name = TemporaryNameFor(name);
    auto created = folder.CreateFile(temporary_name, info->mode);
    if (!created) continue;
    std::unique_ptr<CleaningCopy> copy(
        new CleaningCopy(folder, name, temporary_name, std::move(*created)));
    if (Status filled = copy->Fill(original, *info, from_offset, write_failed); !filled) {
      return filled;
    }
    return copy;
  }
  return Failure(folder, name, "no copy can be created beside the file");
}

Status CleaningCopy::Fill(File& original, const FileInfo& info, uint64_t from_offset,
                          bool* write_failed) {
  const std::optional<FileInfo> made = file_->GetInfo();
  if (!made) return Failure(folder_, name_, "the copy cannot be examined");
  if ((made->owner != info.owner || made->group != info.group) &&
      !file_->SetOwner(info.owner, info.group)) {
    return Failure(folder_, name_, "the copy cannot keep the file's owner");
  }
  std::array<uint8_t, kCopyChunk> buffer;
  for (uint64_t at = from_offset; at < info.size;) {
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(kCopyChunk, info.size - at));
    const uint32_t read = ReadAt(original, static_cast<int64_t>(at), buffer.data(), wanted);
    if (read == 0) return Failure(folder_, name_, "the file cannot be read to its end");
    if (file_->Write(buffer.data(), read) != read) {
      if (write_failed != nullptr) *write_failed = true;
      return Failure(folder_, name_, "the copy cannot be written");
    }
    at += read;
  }
  const std::optional<uint64_t> size_now = original.Size();
  if (!size_now || *size_now != info.size) {
    return Failure(folder_, name_, "the file changed while it was copied");
  }
  return Status::Ok();
}

Status CleaningCopy::Commit(const FileTimes& times) {
  if (!file_->Flush()) return Failure(folder_, name_, "the copy cannot be flushed");
  if (!file_->SetTimes(times)) return Failure(folder_, name_, "the file's times cannot be kept");
  Status renamed = folder_.Rename(temporary_name_, name_, RenameMode::kReplace);
  if (!renamed) return renamed;
  committed_ = true;
  return Status::Ok();
}

}  // namespace quarn
