#include "imported/quarnx/database_layout.h"

#include <zlib.h>

#include <algorithm>

namespace quarn::imported_layout {

uint32_t Crc(std::span<const uint8_t> bytes, uint32_t seed) {
  uLong crc = seed;
  // zlib takes lengths in uInt: feed a large section in pieces.
  constexpr size_t kPiece = size_t{1} << 30;
  for (size_t at = 0; at < bytes.size(); at += kPiece) {
    const size_t length = std::min(kPiece, bytes.size() - at);
    crc = crc32(crc, bytes.data() + at, static_cast<uInt>(length));
  }
  return static_cast<uint32_t>(crc);
}

}  // namespace quarn::imported_layout
