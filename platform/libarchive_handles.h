#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace quarn {

// Owners of libarchive's handles, each freed by its own function on every path out of the
// code that made it. Only code that links libarchive includes this header: the containers'
// archive readers, the importer's reader of a database's tar, and the tests' archive writer.

struct ArchiveReadFree {
  void operator()(struct archive* archive) const { archive_read_free(archive); }
};
struct ArchiveWriteFree {
  void operator()(struct archive* archive) const { archive_write_free(archive); }
};
struct ArchiveEntryFree {
  void operator()(struct archive_entry* entry) const { archive_entry_free(entry); }
};

using ArchiveReadHandle = std::unique_ptr<struct archive, ArchiveReadFree>;
using ArchiveWriteHandle = std::unique_ptr<struct archive, ArchiveWriteFree>;
using ArchiveEntryHandle = std::unique_ptr<struct archive_entry, ArchiveEntryFree>;

}  // namespace quarn
