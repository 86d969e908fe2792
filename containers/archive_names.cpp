#include "containers/archive_names.h"

#include "containers/name_encoding.h"

namespace quarn {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// The length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
size_t SequenceLength(std::string_view text, size_t at, uint32_t* code_point) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  size_t length;
  uint32_t value;
  uint32_t lowest;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, lowest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, lowest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code_point = value;
  return length;
}

bool IsControl(uint32_t code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0) || code_point == 0x2028 ||
         code_point == 0x2029;
}

}  // namespace

std::string ArchiveDisplayPath(std::string_view stored) {
  std::string clean;
  for (size_t at = 0; at < stored.size();) {
    uint32_t code_point = 0;
    const size_t length = SequenceLength(stored, at, &code_point);
    if (length == 0) {
      AppendUtf8(clean, kReplacement);
      ++at;
      continue;
    }
    if (code_point == '/') {
      clean += '\\';
    } else if (IsControl(code_point)) {
      AppendUtf8(clean, kReplacement);
    } else {
      clean.append(stored.substr(at, length));
    }
    at += length;
  }
  std::string path;
  size_t start = 0;
  while (start <= clean.size()) {
    size_t end = clean.find('\\', start);
    if (end == std::string::npos) end = clean.size();
    const std::string_view part = std::string_view(clean).substr(start, end - start);
    if (!part.empty() && part != ".") {
      if (!path.empty()) path += '\\';
      path.append(part);
    }
    start = end + 1;
  }
  return path;
}

}  // namespace quarn
