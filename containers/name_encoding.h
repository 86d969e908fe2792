#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

// Bytes of a short name in code page 437, as UTF-8. Bytes below 0x20 are taken as the
// glyphs DOS showed for them.
std::string CodePage437ToUtf8(std::span<const uint8_t> bytes);

// UTF-16 code units of a long name, as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::span<const uint16_t> units);

// The well-formed UTF-8 sequence that starts at `at` of `text`: its length, with its code
// point in `*code_point`; 0 where none starts there (a stray byte, an overlong form, a
// surrogate, a code point past U+10FFFF, or a sequence cut short).
size_t Utf8SequenceAt(std::string_view text, size_t at, uint32_t* code_point);

// UTF-8 as UTF-16 code units; nothing when `text` is not valid UTF-8 or holds a
// surrogate's code point.
std::optional<std::vector<uint16_t>> Utf8ToUtf16(std::string_view text);

// Whether a name may not show `code_point` as it is: a C0 or C1 control character, DEL, or
// a line or paragraph separator, any of which would let a name start a line of its own in a
// report.
bool IsControlCharacter(uint32_t code_point);

// Appends `code_point` to `out` as UTF-8.
void AppendUtf8(std::string& out, uint32_t code_point);

}  // namespace quarn
