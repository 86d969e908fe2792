#include "dbtool/html_text.h"

#include "platform/text_encoding.h"

namespace quarn {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
constexpr char kDelete = 0x7F;

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

// U+0080 to U+009F, which HTML does not allow in text either.
bool IsC1Control(std::string_view bytes, size_t at, size_t length) {
  return length == 2 && static_cast<unsigned char>(bytes[at]) == 0xC2 &&
         static_cast<unsigned char>(bytes[at + 1]) < 0xA0;
}

}  // namespace

std::string EscapeHtml(std::string_view bytes) {
  std::string html;
  html.reserve(bytes.size());
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t length = Utf8SequenceAt(bytes, at);
    if (length == 0) {
      html += kReplacementCharacter;
      ++at;
      continue;
    }
    const char c = bytes[at];
    if (IsC1Control(bytes, at, length)) {
      html += '?';
    } else if (length > 1) {
      html.append(bytes.substr(at, length));
    } else if (std::string_view reference = Reference(c); !reference.empty()) {
      html += reference;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == kDelete) {
      html += '?';
    } else {
      html += c;
    }
    at += length;
  }
  return html;
}

}  // namespace quarn
