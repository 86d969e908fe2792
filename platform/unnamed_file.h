#pragma once

#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/status.h"

namespace quarn {

// A new, empty file open for reading and writing that no name reaches: in $TMPDIR (/tmp
// when unset), never beside a scanned file, and gone with its last handle whatever ends the
// program. For bytes too many to hold in memory while they are worked on. The failure names
// the folder and the cause. `folder`, when not empty, is used in place of $TMPDIR (a
// daemon's configured TemporaryDirectory).
Result<std::unique_ptr<File>> CreateUnnamedFile(const std::string& folder = {});

// The same as a bare descriptor (close-on-exec), for the platform's own use where a
// descriptor must be handed on: to a child process.
Result<int> CreateUnnamedDescriptor(const std::string& folder = {});

}  // namespace quarn
