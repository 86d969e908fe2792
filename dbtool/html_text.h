#pragma once

#include <string>
#include <string_view>

namespace quarn {

// `bytes` made safe to place in HTML text or a quoted attribute: &, <, >, " and ' become
// character references, each byte that is not part of a well-formed UTF-8 sequence becomes
// U+FFFD, and control characters become "?". The result is always valid UTF-8 and can never
// open or close markup.
std::string EscapeHtml(std::string_view bytes);

}  // namespace quarn
