#pragma once

#include <cstddef>
#include <string_view>

namespace quarn {

// The length of the well-formed UTF-8 sequence that starts at `at` (1 for ASCII), or 0 when
// none does: overlong forms, surrogates and code points beyond U+10FFFF are not well formed.
size_t WellFormedUtf8Length(std::string_view text, size_t at);

// The length of the control character that starts at `at`, or 0 when none does: C0 and DEL
// (1 byte) and C1, U+0080 to U+009F (2 bytes). Every text a person reads shows these as "?":
// terminals act on C1 as on ESC sequences, and NEL (U+0085) ends a line for some readers, so
// a file name holding one could forge a line of its own.
size_t ControlCharacterLength(std::string_view text, size_t at);

}  // namespace quarn
