#include "imported/clamav/database_body.h"

#include <openssl/evp.h>

namespace quarn {
namespace {

constexpr uint8_t kGzipMagic[] = {0x1F, 0x8B};
// zlib's window bits for a gzip stream, header and trailer checked.
constexpr int kGzipWindow = 16 + MAX_WBITS;

std::string Hex(const unsigned char* bytes, unsigned int size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int at = 0; at < size; ++at) {
    hex += kDigits[bytes[at] >> 4];
    hex += kDigits[bytes[at] & 15];
  }
  return hex;
}

}  // namespace

DatabaseBody::DatabaseBody(File& file) : file_(file), md5_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
  if (!md5_ || EVP_DigestInit_ex(md5_.get(), EVP_md5(), nullptr) != 1) {
    error_ = "no MD5 at hand";
  }
}

DatabaseBody::~DatabaseBody() {
  if (gzipped_) inflateEnd(&inflater_);
}

bool DatabaseBody::Fill() {
  if (file_ended_) return false;
  in_size_ = file_.Read(in_.data(), static_cast<uint32_t>(in_.size()));
  if (in_size_ == 0) {
    file_ended_ = true;
    return false;
  }
  EVP_DigestUpdate(md5_.get(), in_.data(), in_size_);
  inflater_.next_in = in_.data();
  inflater_.avail_in = in_size_;
  return true;
}

int64_t DatabaseBody::Next(const void** bytes) {
  if (!error_.empty()) return -1;
  if (!started_) {
    started_ = true;
    if (!Fill()) return 0;
    gzipped_ = in_size_ >= 2 && in_[0] == kGzipMagic[0] && in_[1] == kGzipMagic[1];
    if (gzipped_ && inflateInit2(&inflater_, kGzipWindow) != Z_OK) {
      gzipped_ = false;
      error_ = "no gzip decoder at hand";
      return -1;
    }
    if (!gzipped_) {
      *bytes = in_.data();
      return in_size_;
    }
  } else if (!gzipped_) {
    if (!Fill()) return 0;
    *bytes = in_.data();
    return in_size_;
  }
  while (!stream_ended_) {
    if (inflater_.avail_in == 0 && !Fill()) {
      error_ = "damaged gzip stream: cut short";
      return -1;
    }
    inflater_.next_out = out_.data();
    inflater_.avail_out = static_cast<uInt>(out_.size());
    const int status = inflate(&inflater_, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      stream_ended_ = true;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      // zlib names the check that failed: "incorrect data check" (the CRC), "incorrect
      // length check", "invalid block type"…
      error_ = std::string("damaged gzip stream: ") +
               (inflater_.msg != nullptr ? inflater_.msg : "undecodable");
      return -1;
    }
    const size_t produced = out_.size() - inflater_.avail_out;
    if (produced > 0) {
      *bytes = out_.data();
      return static_cast<int64_t>(produced);
    }
  }
  return 0;
}

Status DatabaseBody::Finish(const std::string& expected_md5) {
  const void* ignored = nullptr;
  int64_t got = 0;
  while ((got = Next(&ignored)) > 0) {
  }
  if (got < 0) return Status::Error(error_);
  while (Fill()) {
  }
  if (!expected_md5.empty()) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(md5_.get(), digest, &size) != 1) return Status::Error("no MD5 at hand");
    if (Hex(digest, size) != expected_md5) {
      return Status::Error("damaged: the body's MD5 is not the one its header records");
    }
  }
  return Status::Ok();
}

}  // namespace quarn
