#include "shell/display_text.h"

#include <algorithm>
#include <cstdint>

#include "platform/text_encoding.h"

namespace quarn {

std::string ResultLineText(std::string_view text) {
  std::string shown;
  shown.reserve(std::min(text.size(), kMaxResultLineLength));
  size_t at = 0;
  while (at < text.size()) {
    const uint8_t byte = static_cast<uint8_t>(text[at]);
    std::string_view piece;
    size_t advance = 1;
    if (size_t control = ControlCharacterLength(text, at); control != 0) {
      piece = "?";
      advance = control;
    } else if (byte < 0x80) {
      piece = text.substr(at, 1);
    } else if (size_t length = Utf8SequenceAt(text, at); length != 0) {
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
