#include "containers/archives/archive_names.h"

#include "platform/text_encoding.h"

namespace quarn {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

}  // namespace

std::string ArchiveDisplayPath(std::string_view stored) {
  std::string clean;
  for (size_t at = 0; at < stored.size();) {
    uint32_t code_point = 0;
    const size_t length = Utf8SequenceAt(stored, at, &code_point);
    if (length == 0) {
      AppendUtf8(clean, kReplacement);
      ++at;
      continue;
    }
    if (code_point == '/') {
      clean += '\\';
    } else if (IsControlCharacter(code_point)) {
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
