#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/file.h"

namespace quarn {

// The MD5, SHA-1 and SHA-256 of a range of a file, computed in one pass by OpenSSL.
struct FileDigests {
  std::vector<uint8_t> md5;
  std::vector<uint8_t> sha1;
  std::vector<uint8_t> sha256;
};

// The digests of `length` bytes of `file` from `offset`; nothing when the file gives fewer
// (it changed, or cannot be read). Memory does not grow with the length.
std::optional<FileDigests> DigestRange(File& file, uint64_t offset, uint64_t length);

}  // namespace quarn
