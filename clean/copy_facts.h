#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/status.h"

namespace quarn {

// What a cleaned file keeps of the original besides its bytes and times: owner and group,
// permission bits (set-user-ID and set-group-ID included), extended attributes (access
// control lists, security labels and file capabilities among them) and flags. Where one of
// them cannot be given to the copy, the clean is declined: a clean never changes who may do
// what with a file.
struct OriginalFacts {
  FileInfo info;
  std::vector<ExtendedAttribute> attributes;
  uint32_t flags = 0;
};

// Reads the facts of the open original. Failures name `path` (the original's) and the cause.
Result<OriginalFacts> ReadOriginalFacts(File& original, const std::string& path);

// Gives the still empty copy the owner, the group and the flags: a flag such as
// no-copy-on-write can be set on an empty file only.
Status GiveFactsToEmptyCopy(const OriginalFacts& facts, File& copy, const std::string& path);

// Gives the copy, once it holds its last byte, the extended attributes and then the
// permission bits: a write clears a file capability, a change of owner clears set-user-ID,
// and an access control list sets permission bits of its own. Attributes the copy was given
// on creation (a folder's default access control list) and the original lacks are removed.
Status GiveFactsToFinishedCopy(const OriginalFacts& facts, File& copy, const std::string& path);

// Whether `now` shows the same file as `before`, with the same size and the same write and
// change times: no write, truncation or change of its facts came in between (within what
// the file system's clock tells apart).
bool Unchanged(const FileInfo& before, const FileInfo& now);

}  // namespace quarn
