#pragma once

#include <string>
#include <string_view>

namespace quarn {

// The longest line the result list keeps.
inline constexpr size_t kMaxResultLineLength = 254;

// A text as a result line may show it: control characters (ControlCharacterLength) and
// bytes that are not UTF-8 become "?", so no file name can forge a line of its own in the log, and
// the text is cut to kMaxResultLineLength bytes without splitting a character.
std::string ResultLineText(std::string_view text);

}  // namespace quarn
