#pragma once

#include <archive.h>
#include <openssl/evp.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/test_support/libarchive_writer.h"

namespace quarn::testing {

// A .cvd/.cld header and `body`: 512 bytes of "ClamAV-VDB:" fields padded with blanks, naming
// `version` and the body's MD5.
inline std::vector<uint8_t> ClamavHeadered(const std::vector<uint8_t>& body, int version = 27000) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(body.data(), body.size(), digest, &size, EVP_md5(), nullptr);
  std::string md5;
  for (unsigned int at = 0; at < size; ++at) {
    md5 += "0123456789abcdef"[digest[at] >> 4];
    md5 += "0123456789abcdef"[digest[at] & 15];
  }
  std::string header = "ClamAV-VDB:07 Dec 2026 10-00 +0000:" + std::to_string(version) +
                       ":3:90:" + md5 + "::test:1796551200";
  header.resize(512, ' ');
  std::vector<uint8_t> bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

// A .cvd/.cld as ClamAV ships one: the header, then a tar archive of the record files,
// gzipped or not.
inline std::vector<uint8_t> ClamavDatabase(
    const std::vector<std::pair<std::string, std::string>>& members, bool gzipped,
    int version = 27000) {
  return ClamavHeadered(
      WriteWithLibarchive(ARCHIVE_FORMAT_TAR_USTAR,
                          gzipped ? ARCHIVE_FILTER_GZIP : ARCHIVE_FILTER_NONE, members),
      version);
}

}  // namespace quarn::testing
