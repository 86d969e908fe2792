#pragma once

#include <memory>
#include <string>

#include "clean/copy_facts.h"
#include "platform/file.h"
#include "platform/folder.h"
#include "platform/status.h"

namespace quarn {

// A copy of a file, made beside it under a temporary name no user file has (see
// TemporaryNameFor) and given what the file keeps besides its bytes (see OriginalFacts). A
// cleaning method writes the cleaned file into the copy; Commit() then replaces the original
// with it in one atomic rename, unless the original changed meanwhile. A copy that is not
// committed is removed, so whatever fails, the original stays as it was; where the copy
// itself cannot be removed, the failure says so.
//
// In a folder that rewrites its files in place (Folder::RewritesInPlace: inside a disk
// image's working copy, which gives all or nothing for the whole image), the copy is an
// unnamed temporary file instead, and Commit writes its bytes over the original's.
class CleaningCopy {
 public:
  // A copy of all of `original` (open on `name` in `folder`). Refuses a file with more than
  // one link, whose other names would keep the old bytes, and a file that changes while it
  // is copied.
  static Result<std::unique_ptr<CleaningCopy>> Create(Folder& folder, const std::string& name,
                                                      File& original);

  // An empty copy, to be filled by FillFrom: for callers that show their own text when the
  // copy cannot be written. Refuses what Create refuses.
  static Result<std::unique_ptr<CleaningCopy>> Begin(Folder& folder, const std::string& name,
                                                     File& original);

  CleaningCopy(const CleaningCopy&) = delete;
  CleaningCopy& operator=(const CleaningCopy&) = delete;
  // Removes a copy neither committed nor discarded, without a word: callers that can report
  // call Discard.
  ~CleaningCopy();

  File& file() { return *file_; }

  // Fills the copy with the original's bytes from `from_offset` on (a host behind a virus
  // placed in front of it); holes stay holes. `*write_failed` (when given) tells a failure
  // to write the copy apart from one to read the original. Fails when the original is
  // shorter than `from_offset` or changed while it was read.
  Status FillFrom(File& original, uint64_t from_offset, bool* write_failed = nullptr);

  // Gives the copy the original's extended attributes, permission bits and `times`, flushes
  // it, checks that the original is the file it was when the copy began (same size, write
  // and change times, same inode), and renames the copy over it. A failure removes the copy.
  Status Commit(const FileTimes& times);

  // Removes the copy. A failure names the copy left behind and the cause.
  Status Discard();

 private:
  CleaningCopy(Folder& folder, std::string name, std::string temporary_name,
               std::unique_ptr<File> file, OriginalFacts facts);

  static Result<std::unique_ptr<CleaningCopy>> BeginInPlace(Folder& folder, const std::string& name,
                                                            File& original);
  Status RewriteOriginal(const FileTimes& times);

  std::string Path() const;
  Status Failure(std::string_view cause) const;
  Status CheckOriginalUnchanged();
  // Removes the copy after `failure`, and adds to it that the copy stays when it does.
  Status Abandon(Status failure);
  Status RemoveCopy();

  Folder& folder_;
  std::string name_;
  std::string temporary_name_;
  std::unique_ptr<File> file_;
  OriginalFacts facts_;    // as the original was when the copy began
  bool settled_ = false;   // committed, or removed (or given up on)
  bool in_place_ = false;  // the copy has no name; Commit rewrites the original
};

}  // namespace quarn
