#include "imported/matching/file_digests.h"

#include <openssl/evp.h>

#include <array>
#include <memory>

namespace quarn {
namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

constexpr size_t kBlockBytes = 64 * 1024;

}  // namespace

std::optional<FileDigests> DigestRange(File& file, uint64_t offset, uint64_t length) {
  const std::array<const EVP_MD*, 3> kinds = {EVP_md5(), EVP_sha1(), EVP_sha256()};
  std::array<DigestContext, 3> contexts = {DigestContext(EVP_MD_CTX_new(), &EVP_MD_CTX_free),
                                           DigestContext(EVP_MD_CTX_new(), &EVP_MD_CTX_free),
                                           DigestContext(EVP_MD_CTX_new(), &EVP_MD_CTX_free)};
  for (size_t kind = 0; kind < kinds.size(); ++kind) {
    if (!contexts[kind] || EVP_DigestInit_ex(contexts[kind].get(), kinds[kind], nullptr) != 1) {
      return std::nullopt;
    }
  }
  if (file.Seek(static_cast<int64_t>(offset), SeekOrigin::kBegin) != offset) return std::nullopt;
  std::array<uint8_t, kBlockBytes> block;
  for (uint64_t left = length; left > 0;) {
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(left, block.size()));
    const uint32_t got = file.Read(block.data(), wanted);
    if (got == 0) return std::nullopt;
    for (DigestContext& context : contexts) EVP_DigestUpdate(context.get(), block.data(), got);
    left -= got;
  }
  std::array<std::vector<uint8_t>, 3> results;
  for (size_t kind = 0; kind < kinds.size(); ++kind) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest;
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(contexts[kind].get(), digest.data(), &size) != 1) return std::nullopt;
    results[kind].assign(digest.begin(), digest.begin() + size);
  }
  return FileDigests{std::move(results[0]), std::move(results[1]), std::move(results[2])};
}

}  // namespace quarn
