#include "engine/utf8_sequence.h"

#include <cstdint>

namespace quarn {

size_t WellFormedUtf8Length(std::string_view text, size_t at) {
  const uint8_t lead = static_cast<uint8_t>(text[at]);
  if (lead < 0x80) return 1;
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
  if (text.size() - at < length) return 0;
  uint32_t code = lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    const uint8_t next = static_cast<uint8_t>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

size_t ControlCharacterLength(std::string_view text, size_t at) {
  const uint8_t lead = static_cast<uint8_t>(text[at]);
  if (lead < 0x20 || lead == 0x7F) return 1;
  if (lead == 0xC2 && at + 1 < text.size()) {
    const uint8_t next = static_cast<uint8_t>(text[at + 1]);
    if (next >= 0x80 && next <= 0x9F) return 2;
  }
  return 0;
}

}  // namespace quarn
