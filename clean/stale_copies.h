#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/folder.h"
#include "platform/status.h"

namespace quarn {

// The copies that cleans stopped before their end (a crash, a kill) left beside the files
// they cleaned, removed at the next clean of the same file. Only names TemporaryNameFor
// makes are ever removed. A folder is listed once, at the first clean in it, however many of
// its files are cleaned: cleaning N files of a folder of M entries costs one listing of M,
// not N. A copy left after that listing waits for the next scan.
//
// One object serves one scan at a time; it is not shared between threads.
class StaleCopies {
 public:
  // Removes the copies of `name` left in `folder`. Gives, for each copy that stays, a failure
  // that names it and the cause.
  std::vector<Status> Remove(Folder& folder, const std::string& name);

  // Forgets what the listings found, so that the next scan looks again.
  void Forget() { listings_.clear(); }

 private:
  struct Listing {
    FolderIdentity identity;
    std::string path;
    // The names that may be copies, under everything but their random letters.
    std::unordered_map<std::string, std::vector<std::string>> by_stem;
  };

  Listing& ListingOf(Folder& folder);

  std::deque<Listing> listings_;  // the folders listed last, the latest first
};

}  // namespace quarn
