#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/file.h"

namespace quarn {

// The method ids of the 7z coders whose memory, header packing or password matters here.
inline constexpr uint64_t kSevenZipCopy = 0x00;
inline constexpr uint64_t kSevenZipLzma = 0x030101;
inline constexpr uint64_t kSevenZipLzma2 = 0x21;
inline constexpr uint64_t kSevenZipPpmd = 0x030401;
inline constexpr uint64_t kSevenZipAes = 0x06F10701;

// The longest header that is unpacked to be read: a header of a few hundred thousand names.
// A longer one is not unpacked at all.
inline constexpr uint64_t kMaxSevenZipHeader = uint64_t{16} << 20;

// One coder of a 7z folder: its method and the first bytes of its properties (every method
// read here keeps what it needs in five bytes or fewer), with the properties' full size.
struct SevenZipCoder {
  uint64_t method = 0;
  std::array<uint8_t, 5> properties{};
  uint64_t property_bytes = 0;
};

// Where a packed ("encoded") header lies, as the streams info in front of it tells: the first
// folder's coder, its first packed stream and the size it unpacks to.
struct SevenZipPackedHeader {
  SevenZipCoder coder;
  bool single_coder = false;  // the first folder is that coder alone, one stream in and out
  uint64_t offset = 0;        // from the archive's start
  uint64_t packed_size = 0;
  uint64_t unpacked_size = 0;
};

// The header unpacked: stored, LZMA or LZMA2 (7z packs its headers with nothing else), all
// of `unpacked_size` bytes or nothing. Nothing too for a folder of other or several coders, a
// size above kMaxSevenZipHeader, packed bytes past the archive's end, or data that breaks.
// Holds at most the header and a dictionary of its size: a header never refers back past its
// own start, so a larger dictionary it claims is never allocated.
std::optional<std::vector<uint8_t>> UnpackSevenZipHeader(File& archive,
                                                         const SevenZipPackedHeader& packed);

}  // namespace quarn
