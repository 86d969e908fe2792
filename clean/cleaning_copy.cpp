#include "clean/cleaning_copy.h"

#include <algorithm>
#include <array>

#include "clean/cleaning_context.h"
#include "platform/file_copy.h"
#include "platform/file_reads.h"
#include "platform/path_names.h"
#include "platform/unnamed_file.h"

namespace quarn {
namespace {

constexpr uint32_t kCopyChunk = 64 * 1024;
constexpr int kNameAttempts = 16;
// Until it replaces the file, the copy is its maker's alone: the file's own permission
// bits come at the commit.
constexpr uint32_t kPrivateMode = 0600;
constexpr std::string_view kLeftBehind = "a copy is left behind: ";

Status Failure(Folder& folder, const std::string& name, std::string_view cause) {
  return Status::Error(PathMessage("clean", JoinPath(folder.Path(), name), cause));
}

struct NewCopy {
  std::string name;
  std::unique_ptr<File> file;
};

// Creates the copy under a fresh temporary name. A name drawn that is taken already is drawn
// again; any other failure would only come back, and its cause is the answer.
Result<NewCopy> CreateBeside(Folder& folder, const std::string& name) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string temporary_name = TemporaryNameFor(name);
    auto created = folder.CreateFile(temporary_name, kPrivateMode);
    if (created) return NewCopy{std::move(temporary_name), std::move(*created)};
    auto taken = folder.Examine(temporary_name);
    if (!taken || !taken->has_value()) {
      return Failure(folder, name, "no copy can be created beside the file: " + created.message());
    }
  }
  return Failure(folder, name, "no copy can be created beside the file: every name drawn is taken");
}

}  // namespace

CleaningCopy::CleaningCopy(Folder& folder, std::string name, std::string temporary_name,
                           std::unique_ptr<File> file, OriginalFacts facts)
    : folder_(folder),
      name_(std::move(name)),
      temporary_name_(std::move(temporary_name)),
      file_(std::move(file)),
      facts_(std::move(facts)) {}

CleaningCopy::~CleaningCopy() {
  if (!settled_) RemoveCopy();
}

std::string CleaningCopy::Path() const {
  return JoinPath(folder_.Path(), name_);
}

Status CleaningCopy::Failure(std::string_view cause) const {
  return Status::Error(PathMessage("clean", Path(), cause));
}

Result<std::unique_ptr<CleaningCopy>> CleaningCopy::BeginInPlace(Folder& folder,
                                                                 const std::string& name,
                                                                 File& original) {
  // The file keeps its own entry, and with it everything it has besides its bytes; only its
  // identity is taken, to see that nothing else changed it meanwhile.
  const std::optional<FileInfo> info = original.GetInfo();
  if (!info) return quarn::Failure(folder, name, "the file cannot be examined");
  auto scratch = CreateUnnamedFile();
  if (!scratch) return quarn::Failure(folder, name, "no copy can be made: " + scratch.message());
  std::unique_ptr<CleaningCopy> copy(
      new CleaningCopy(folder, name, "", std::move(*scratch), OriginalFacts{*info, {}, 0}));
  copy->in_place_ = true;
  return copy;
}

Result<std::unique_ptr<CleaningCopy>> CleaningCopy::Begin(Folder& folder, const std::string& name,
                                                          File& original) {
  if (folder.RewritesInPlace()) return BeginInPlace(folder, name, original);
  auto facts = ReadOriginalFacts(original, JoinPath(folder.Path(), name));
  if (!facts) return facts.status();
  if (facts->info.link_count > 1) {
    return quarn::Failure(folder, name, "the file has other names that would keep the virus");
  }
  auto created = CreateBeside(folder, name);
  if (!created) return created.status();
  std::unique_ptr<CleaningCopy> copy(new CleaningCopy(folder, name, std::move(created->name),
                                                      std::move(created->file), std::move(*facts)));
  if (Status given = GiveFactsToEmptyCopy(copy->facts_, *copy->file_, copy->Path()); !given) {
    return copy->Abandon(given);
  }
  return copy;
}

Result<std::unique_ptr<CleaningCopy>> CleaningCopy::Create(Folder& folder, const std::string& name,
                                                           File& original) {
  auto copy = Begin(folder, name, original);
  if (!copy) return copy;
  // Where the file system shares extents, the copy costs nothing until it is written: a
  // large disk image changed in one file is not read whole.
  if (!(*copy)->in_place_ && CloneFileContents(original, (*copy)->file())) {
    const std::optional<FileInfo> now = original.GetInfo();
    if (now && Unchanged((*copy)->facts_.info, *now)) return copy;
    return (*copy)->Abandon((*copy)->Failure("the file changed while it was copied"));
  }
  if (Status filled = (*copy)->FillFrom(original, 0); !filled) return (*copy)->Abandon(filled);
  return copy;
}

Status CleaningCopy::FillFrom(File& original, uint64_t from_offset, bool* write_failed) {
  const uint64_t size = facts_.info.size;
  if (from_offset > size) return Failure("the file is shorter than the virus");
  auto cannot_write = [&] {
    if (write_failed != nullptr) *write_failed = true;
    return Failure("the copy cannot be written");
  };
  std::array<uint8_t, kCopyChunk> buffer;
  for (uint64_t at = from_offset; at < size;) {
    const std::optional<uint64_t> data = original.NextData(at);
    if (!data) return Failure("the file cannot be read to its end");
    if (*data >= size) break;
    const std::optional<uint64_t> hole = original.NextHole(*data);
    if (!hole) return Failure("the file cannot be read to its end");
    const uint64_t end = *hole > *data ? std::min(*hole, size) : size;
    for (at = *data; at < end;) {
      const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(kCopyChunk, end - at));
      const uint32_t read = ReadAt(original, static_cast<int64_t>(at), buffer.data(), wanted);
      if (read == 0) return Failure("the file cannot be read to its end");
      if (!WriteAt(*file_, at - from_offset, buffer.data(), read)) return cannot_write();
      at += read;
    }
  }
  // Holes at the end were never written: the copy is given its length here.
  if (!file_->Seek(static_cast<int64_t>(size - from_offset), SeekOrigin::kBegin) ||
      !file_->SetEndOfFile()) {
    return cannot_write();
  }
  const std::optional<FileInfo> now = original.GetInfo();
  if (!now || !Unchanged(facts_.info, *now)) return Failure("the file changed while it was copied");
  return Status::Ok();
}

Status CleaningCopy::CheckOriginalUnchanged() {
  // A write that lands between this look and the rename is still lost: no system renames
  // on condition. The window is two system calls wide, not the whole clean.
  auto now = folder_.Examine(name_);
  if (!now) return Failure("whether the file changed cannot be told: " + now.message());
  if (!now->has_value()) return Failure("the file was removed while it was cleaned");
  if (!Unchanged(facts_.info, **now)) {
    return Failure("the file changed while it was cleaned; it is left as it is now");
  }
  return Status::Ok();
}

Status CleaningCopy::RewriteOriginal(const FileTimes& times) {
  auto target = folder_.OpenFile(name_, OpenMode::kReadWrite);
  if (!target) return Failure("the file cannot be opened for writing: " + target.message());
  const std::optional<uint64_t> size = file_->Size();
  if (!size) return Failure("the copy cannot be read");
  std::vector<uint8_t> buffer(kCopyChunk);
  for (uint64_t at = 0; at < *size;) {
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(kCopyChunk, *size - at));
    if (ReadAt(*file_, static_cast<int64_t>(at), buffer.data(), wanted) != wanted) {
      return Failure("the copy cannot be read");
    }
    if (!WriteAt(**target, at, buffer.data(), wanted)) return Failure("the file cannot be written");
    at += wanted;
  }
  if (!(*target)->Seek(static_cast<int64_t>(*size), SeekOrigin::kBegin) ||
      !(*target)->SetEndOfFile()) {
    return Failure("the file cannot be cut to its new length");
  }
  if (!(*target)->SetTimes(times)) return Failure("the file's times cannot be kept");
  if (!(*target)->Flush()) return Failure("the file cannot be flushed");
  return Status::Ok();
}

Status CleaningCopy::Commit(const FileTimes& times) {
  if (in_place_) {
    Status done = CheckOriginalUnchanged();
    if (done) done = RewriteOriginal(times);
    RemoveCopy();
    return done;
  }
  Status ready = GiveFactsToFinishedCopy(facts_, *file_, Path());
  if (ready && !file_->SetTimes(times)) ready = Failure("the file's times cannot be kept");
  if (ready && !file_->Flush()) ready = Failure("the copy cannot be flushed");
  if (ready) ready = CheckOriginalUnchanged();
  if (ready) {
    Status renamed = folder_.Rename(temporary_name_, name_, RenameMode::kReplace);
    if (!renamed) ready = Failure("the copy cannot take the file's place: " + renamed.message());
  }
  if (!ready) return Abandon(ready);
  settled_ = true;
  return Status::Ok();
}

Status CleaningCopy::RemoveCopy() {
  settled_ = true;
  file_.reset();
  if (in_place_) return Status::Ok();  // an unnamed file goes with its handle
  Status removed = folder_.Delete(temporary_name_);
  if (removed) return removed;
  // Gone already (someone else removed it) is as good as removed.
  auto left = folder_.Examine(temporary_name_);
  if (left && !left->has_value()) return Status::Ok();
  return removed;
}

Status CleaningCopy::Discard() {
  if (settled_) return Status::Ok();
  Status removed = RemoveCopy();
  if (removed) return removed;
  return Failure(std::string(kLeftBehind) + removed.message());
}

Status CleaningCopy::Abandon(Status failure) {
  Status removed = RemoveCopy();
  if (removed) return failure;
  return Status::Error(failure.message() + "; " + std::string(kLeftBehind) + removed.message());
}

}  // namespace quarn
