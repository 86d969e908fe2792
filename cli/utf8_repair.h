#pragma once

#include <string>
#include <string_view>

namespace quarn {

// `text` with every byte that does not belong to a well-formed UTF-8 sequence replaced by
// U+FFFD, one replacement per such byte; valid text comes back unchanged. File names on this
// machine are bytes, and JSON strings must be UTF-8.
std::string RepairUtf8(std::string_view text);

}  // namespace quarn
