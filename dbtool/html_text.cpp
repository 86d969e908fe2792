#include "dbtool/html_text.h"

#include "platform/text_encoding.h"

namespace quarn {
namespace {

std::string_view Reference(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&#39;";
    default:
      return {};
  }
}

}  // namespace

std::string EscapeHtml(std::string_view bytes) {
  const std::string text = RepairUtf8(bytes);
  std::string html;
  html.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    // C0, DEL and C1 are no text in HTML either.
    if (const size_t control = ControlCharacterLength(text, at); control != 0) {
      html += '?';
      at += control;
    } else if (std::string_view reference = Reference(text[at]); !reference.empty()) {
      html += reference;
      ++at;
    } else {
      html += text[at++];
    }
  }
  return html;
}

}  // namespace quarn
