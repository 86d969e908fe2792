#include "cli/terminal_text.h"

#include <cstdint>

#include "cli/character_width.h"
#include "platform/text_encoding.h"

namespace quarn {

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
  size_t used = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t length = 0;
    const size_t width = static_cast<size_t>(ColumnsAt(text, at, &length));
    if (used + width > columns) break;
    used += width;
    at += length;
  }
  return std::string(text.substr(0, at));
}

size_t CountColumns(std::string_view text) {
  size_t columns = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t length = 0;
    columns += static_cast<size_t>(ColumnsAt(text, at, &length));
    at += length;
  }
  return columns;
}

std::string FitColumnsKeepingEnd(std::string_view text, size_t columns) {
  constexpr std::string_view kEllipsis = "...";
  size_t remaining = CountColumns(text);
  if (remaining <= columns) return std::string(text);
  if (columns <= kEllipsis.size()) return std::string(kEllipsis.substr(0, columns));
  const size_t room = columns - kEllipsis.size();
  size_t at = 0;
  while (at < text.size()) {
    size_t length = 0;
    const size_t width = static_cast<size_t>(ColumnsAt(text, at, &length));
    // A combining mark stays with the character before it, never opening the kept end.
    if (remaining <= room && width != 0) break;
    remaining -= width;
    at += length;
  }
  return std::string(kEllipsis) + std::string(text.substr(at));
}

}  // namespace quarn
