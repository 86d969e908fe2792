#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace quarn {

// The memory the decoder of a compressed stream asks for before it delivers a byte, read
// from the stream's first header: an xz stream's first block (LZMA2 dictionary), a zstd
// frame's window, and, for data known to be an .lzma stream (its header has no magic number),
// the dictionary its header names. Nothing for other data, or a header too short to tell.
std::optional<uint64_t> StreamDictionarySize(std::span<const uint8_t> head);

// The dictionary an LZMA2 property byte names (xz and 7z alike): 40 is 4 GiB - 1; nothing
// above 40, which every decoder refuses.
std::optional<uint64_t> Lzma2DictionarySize(uint8_t property);

}  // namespace quarn
