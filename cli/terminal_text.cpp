#include "cli/terminal_text.h"

#include <cstdint>

#include "cli/utf8_repair.h"
#include "shell/utf8_sequence.h"

namespace quarn {
namespace {

bool IsContinuationByte(char byte) {
  return (static_cast<uint8_t>(byte) & 0xC0) == 0x80;
}

}  // namespace

std::string TerminalSafeText(std::string_view text) {
  const std::string repaired = RepairUtf8(text);
  std::string safe;
  safe.reserve(repaired.size());
  size_t at = 0;
  while (at < repaired.size()) {
    if (size_t control = ControlCharacterLength(repaired, at); control != 0) {
      safe += '?';
      at += control;
    } else {
      safe += repaired[at++];
    }
  }
  return safe;
}

std::string FitColumns(std::string_view text, size_t columns) {
  size_t characters = 0;
  size_t at = 0;
  while (at < text.size()) {
    if (!IsContinuationByte(text[at])) {
      if (characters == columns) break;
      ++characters;
    }
    ++at;
  }
  return std::string(text.substr(0, at));
}

size_t CountColumns(std::string_view text) {
  size_t characters = 0;
  for (char byte : text) {
    if (!IsContinuationByte(byte)) ++characters;
  }
  return characters;
}

std::string FitColumnsKeepingEnd(std::string_view text, size_t columns) {
  constexpr std::string_view kEllipsis = "...";
  const size_t length = CountColumns(text);
  if (length <= columns) return std::string(text);
  if (columns <= kEllipsis.size()) return std::string(kEllipsis.substr(0, columns));
  size_t skip = length - (columns - kEllipsis.size());
  size_t at = 0;
  while (at < text.size() && (skip > 0 || IsContinuationByte(text[at]))) {
    if (!IsContinuationByte(text[at])) --skip;
    ++at;
  }
  return std::string(kEllipsis) + std::string(text.substr(at));
}

}  // namespace quarn
