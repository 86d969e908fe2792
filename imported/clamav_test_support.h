#pragma once

#include <archive.h>

#include <string>
#include <utility>
#include <vector>

#include "testing/libarchive_writer.h"

namespace quarn::testing {

// A .cvd/.cld as ClamAV ships one: a 512-byte "ClamAV-VDB:" header padded with blanks, then a
// tar archive of the record files, gzipped or not.
inline std::vector<uint8_t> ClamavDatabase(
    const std::vector<std::pair<std::string, std::string>>& members, bool gzipped) {
  std::string header =
      "ClamAV-VDB:07 Dec 2026 10-00 +0000:27000:3:90:d41d8cd98f00b204e9800998ecf8427e::test:"
      "1796551200";
  header.resize(512, ' ');
  std::vector<uint8_t> bytes(header.begin(), header.end());
  const std::vector<uint8_t> tar = WriteWithLibarchive(
      ARCHIVE_FORMAT_TAR_USTAR, gzipped ? ARCHIVE_FILTER_GZIP : ARCHIVE_FILTER_NONE, members);
  bytes.insert(bytes.end(), tar.begin(), tar.end());
  return bytes;
}

}  // namespace quarn::testing
