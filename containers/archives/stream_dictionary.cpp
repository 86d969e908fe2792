#include "containers/archives/stream_dictionary.h"

#include <algorithm>
#include <array>

#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr std::array<uint8_t, 6> kXzMagic = {0xFD, '7', 'z', 'X', 'Z', 0x00};
constexpr std::array<uint8_t, 4> kZstdMagic = {0x28, 0xB5, 0x2F, 0xFD};
constexpr uint8_t kLzma2Filter = 0x21;
constexpr size_t kXzStreamHeader = 12;

bool StartsWith(std::span<const uint8_t> head, std::span<const uint8_t> magic) {
  return head.size() >= magic.size() && std::equal(magic.begin(), magic.end(), head.begin());
}

// A multibyte integer of the xz format at `*at`, moved past it.
std::optional<uint64_t> XzNumber(std::span<const uint8_t> head, size_t* at) {
  uint64_t value = 0;
  for (int shift = 0; shift < 63 && *at < head.size(); shift += 7) {
    const uint8_t byte = head[(*at)++];
    value |= uint64_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80) == 0) return value;
  }
  return std::nullopt;
}

std::optional<uint64_t> XzDictionary(std::span<const uint8_t> head) {
  size_t at = kXzStreamHeader;
  if (at + 2 > head.size() || head[at] == 0) return std::nullopt;  // no block: an empty stream
  const uint8_t flags = head[at + 1];
  at += 2;
  const int filters = (flags & 0x03) + 1;
  if ((flags & 0x40) != 0 && !XzNumber(head, &at)) return std::nullopt;  // compressed size
  if ((flags & 0x80) != 0 && !XzNumber(head, &at)) return std::nullopt;  // uncompressed size
  for (int filter = 0; filter < filters; ++filter) {
    const std::optional<uint64_t> id = XzNumber(head, &at);
    const std::optional<uint64_t> size = XzNumber(head, &at);
    if (!id || !size || at + *size > head.size()) return std::nullopt;
    if (*id == kLzma2Filter && *size == 1) return Lzma2DictionarySize(head[at] & 0x3F);
    at += *size;
  }
  return std::nullopt;
}

std::optional<uint64_t> ZstdWindow(std::span<const uint8_t> head) {
  if (head.size() < 6) return std::nullopt;
  const uint8_t descriptor = head[4];
  const bool single_segment = (descriptor & 0x20) != 0;
  if (!single_segment) {
    const uint8_t window = head[5];
    const uint64_t base = uint64_t{1} << (10 + (window >> 3));
    return base + base / 8 * (window & 7);
  }
  // The window is the content's size, which follows the dictionary id.
  static constexpr std::array<size_t, 4> kIdBytes = {0, 1, 2, 4};
  static constexpr std::array<size_t, 4> kSizeBytes = {1, 2, 4, 8};
  const size_t at = 5 + kIdBytes[descriptor & 3];
  const size_t length = kSizeBytes[descriptor >> 6];
  if (at + length > head.size()) return std::nullopt;
  uint64_t size = 0;
  for (size_t i = 0; i < length; ++i) size |= uint64_t{head[at + i]} << (8 * i);
  return length == 2 ? size + 256 : size;
}

}  // namespace

std::optional<uint64_t> Lzma2DictionarySize(uint8_t property) {
  constexpr uint8_t kLargest = 40;
  if (property > kLargest) return std::nullopt;
  if (property == kLargest) return uint64_t{0xFFFFFFFF};
  return uint64_t{2u | (property & 1u)} << (property / 2 + 11);
}

std::optional<uint64_t> StreamDictionarySize(std::span<const uint8_t> head) {
  if (StartsWith(head, kXzMagic)) return XzDictionary(head);
  if (StartsWith(head, kZstdMagic)) return ZstdWindow(head);
  // .lzma: properties (lc, lp, pb) below 225, then the dictionary, then the size.
  if (head.size() >= 13 && head[0] < 225 && head[1] == 0x00 &&
      (head[12] == 0x00 || head[12] == 0xFF)) {
    return ReadU32(head, 1);
  }
  return std::nullopt;
}

}  // namespace quarn
