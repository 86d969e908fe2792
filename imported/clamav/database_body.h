#pragma once

#include <zlib.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/status.h"

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace quarn {

// The body of a .cvd or .cld file, after its 512-byte header: a tar archive, gzipped or not.
// Hands out the tar's bytes block by block (gunzipped when the body starts with gzip's
// magic) while taking the MD5 of the body as stored, so the checks a damaged database fails
// cost no second read.
class DatabaseBody {
 public:
  // `file` is positioned just past the header and outlives the body.
  explicit DatabaseBody(File& file);
  ~DatabaseBody();
  DatabaseBody(const DatabaseBody&) = delete;
  DatabaseBody& operator=(const DatabaseBody&) = delete;

  // The next bytes of the tar at `*bytes`: their count, 0 at its end, -1 when the body is
  // damaged (error() tells how).
  int64_t Next(const void** bytes);

  // Reads what the tar left unread, to the end of the file: the rest of the gzip stream,
  // which must end with its CRC and length as gzip writes them, and every byte for the MD5.
  // Then the MD5 of the whole body must be `expected_md5` (lower-case hex) unless that is
  // empty. Fails with the cause.
  Status Finish(const std::string& expected_md5);

  const std::string& error() const { return error_; }

 private:
  static constexpr size_t kBlockBytes = 64 * 1024;
  // Reads raw bytes into in_ for the MD5 and, when gzipped, the inflater; false at the end.
  bool Fill();

  File& file_;
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> md5_;
  z_stream inflater_{};
  bool gzipped_ = false;
  bool started_ = false;
  bool stream_ended_ = false;
  bool file_ended_ = false;
  std::string error_;
  std::array<uint8_t, kBlockBytes> in_{};
  uint32_t in_size_ = 0;
  std::array<uint8_t, kBlockBytes> out_{};
};

}  // namespace quarn
