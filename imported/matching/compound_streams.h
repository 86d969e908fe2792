#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/file.h"

namespace quarn {

// What a walk over a compound document's streams may read: the file's bytes up to
// `byte_limit` and, summed over every stream visited, no more bytes than that either, so a
// directory whose entries all name one long chain costs no more than one pass over the file.
struct CompoundWalkLimits {
  uint64_t byte_limit = UINT64_MAX;
};

// Calls `visit` with every stream of the compound document (OLE2) in `file`, in directory
// order, each as a read-only file of its own bytes: streams of every storage, whether they
// lie in the file's sectors or in the mini stream; empty streams are passed over. The whole
// directory is read entry by entry rather than walked as a tree, so an entry a damaged tree
// no longer reaches is still visited. A chain that breaks, loops or leaves the file ends its
// stream there: what it reached is visited. Returns false, visiting nothing, when `file`
// does not start with the compound-file signature or its header names a sector size other
// than 512 or 4096 bytes. Moves `file`'s position.
bool ForEachCompoundStream(File& file, const CompoundWalkLimits& limits,
                           const std::function<void(const std::string& name, File& stream)>& visit);

}  // namespace quarn
