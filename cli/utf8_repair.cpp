#include "cli/utf8_repair.h"

#include "engine/utf8_sequence.h"

namespace quarn {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace

std::string RepairUtf8(std::string_view text) {
  std::string repaired;
  repaired.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    const size_t length = WellFormedUtf8Length(text, at);
    if (length == 0) {
      repaired += kReplacementCharacter;
      ++at;
    } else {
      repaired.append(text.substr(at, length));
      at += length;
    }
  }
  return repaired;
}

}  // namespace quarn
