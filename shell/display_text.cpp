#include "shell/display_text.h"

#include <algorithm>
#include <cstdint>

namespace quarn {
namespace {

// The length of the well-formed UTF-8 sequence at `at`, or 0 when there is none.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const uint8_t lead = static_cast<uint8_t>(text[at]);
  size_t length = 0;
  uint32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  uint32_t code = lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    const uint8_t next = static_cast<uint8_t>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string ResultLineText(std::string_view text) {
  std::string shown;
  shown.reserve(std::min(text.size(), kMaxResultLineLength));
  size_t at = 0;
  while (at < text.size()) {
    const uint8_t byte = static_cast<uint8_t>(text[at]);
    std::string_view piece;
    size_t advance = 1;
    if (byte < 0x20 || byte == 0x7F) {
      piece = "?";
    } else if (byte < 0x80) {
      piece = text.substr(at, 1);
    } else if (size_t length = Utf8SequenceLength(text, at); length != 0) {
      piece = text.substr(at, length);
      advance = length;
    } else {
      piece = "?";
    }
    if (shown.size() + piece.size() > kMaxResultLineLength) break;
    shown += piece;
    at += advance;
  }
  return shown;
}

}  // namespace quarn
