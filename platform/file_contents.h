#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/folder.h"
#include "platform/status.h"

namespace quarn {

// Files read or written whole, for tools and start-up (never for files being scanned).

// The bytes of the file at a host path; refuses files larger than `limit`.
Result<std::vector<uint8_t>> ReadWholeFile(FileSystem& files, const std::string& path,
                                           uint64_t limit = uint64_t{1} << 30);

// The bytes of `name` in `folder`; refuses files larger than `limit`.
Result<std::vector<uint8_t>> ReadWholeFile(Folder& folder, const std::string& name,
                                           uint64_t limit = uint64_t{1} << 30);

// Writes `bytes` to a new temporary file in `folder`, flushes it and renames it over `name`,
// so `name` holds either its old content or all of the new. The temporary file is removed
// on any failure.
Status WriteFileAtomically(Folder& folder, const std::string& name,
                           const std::vector<uint8_t>& bytes,
                           RenameMode mode = RenameMode::kReplace);
// The same for a file given as pieces, written one after another: a large file made of
// parts held apart is never gathered into one buffer.
Status WriteFileAtomically(Folder& folder, const std::string& name,
                           std::span<const std::span<const uint8_t>> pieces,
                           RenameMode mode = RenameMode::kReplace);

// Splits a host path into its folder ("." for a bare name) and its last component.
std::pair<std::string, std::string> SplitHostPath(const std::string& path);

}  // namespace quarn
