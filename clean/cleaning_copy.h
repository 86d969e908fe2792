#pragma once

#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/folder.h"
#include "platform/status.h"

namespace quarn {

// A byte-for-byte copy of a file, made beside it under a temporary name no user file has
// (".NAME.quarn-XXXXXX"), with the original's permission bits, owner and group. A cleaning
// method writes the cleaned file into the copy; Commit() then replaces the original with it
// in one atomic rename. A copy that is not committed is removed when it goes away, so
// whatever fails, the original stays as it was.
class CleaningCopy {
 public:
  // Copies `original` (open on `name` in `folder`) into a new temporary file. Refuses a
  // file with more than one link, whose other names would keep the old bytes, and a file
  // whose size changes while it is copied.
  static Result<std::unique_ptr<CleaningCopy>> Create(Folder& folder, const std::string& name,
                                                      File& original);

  // Like Create, but the copy holds the original's bytes from `from_offset` on: the host of
  // a virus placed in front of it. `*write_failed` (when given) tells a failure to write the
  // copy apart from a copy that could not be begun.
  static Result<std::unique_ptr<CleaningCopy>> CreateTail(Folder& folder, const std::string& name,
                                                          File& original, uint64_t from_offset,
                                                          bool* write_failed = nullptr);

  CleaningCopy(const CleaningCopy&) = delete;
  CleaningCopy& operator=(const CleaningCopy&) = delete;
  ~CleaningCopy();

  File& file() { return *file_; }

  // Flushes the copy, gives it `times` and renames it over the original.
  Status Commit(const FileTimes& times);

 private:
  CleaningCopy(Folder& folder, std::string name, std::string temporary_name,
               std::unique_ptr<File> file);

  // Gives the new, empty copy the original's owner and fills it from `from_offset` on.
  Status Fill(File& original, const FileInfo& info, uint64_t from_offset, bool* write_failed);

  Folder& folder_;
  std::string name_;
  std::string temporary_name_;
  std::unique_ptr<File> file_;
  bool committed_ = false;
};

}  // namespace quarn
