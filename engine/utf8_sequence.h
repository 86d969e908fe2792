#pragma once

#include <cstddef>
#include <string_view>

namespace quarn {

// The length of the well-formed UTF-8 sequence that starts at `at` (1 for ASCII), or 0 when
// none does: overlong forms, surrogates and code points beyond U+10FFFF are not well formed.
size_t WellFormedUtf8Length(std::string_view text, size_t at);

}  // namespace quarn
