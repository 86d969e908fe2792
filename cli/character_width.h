#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarn {

// How many terminal columns a character takes, as terminals draw it, decided from tables
// of our own rather than the C library's wcwidth, which depends on the locale and the
// system: 2 for East Asian wide and fullwidth characters (CJK ideographs, kana, Hangul
// syllables, fullwidth forms, most emoji), 0 for combining marks, zero-width and format
// characters, 1 for the rest.
int CharacterColumns(uint32_t code_point);

// The columns of the character whose well-formed UTF-8 sequence starts at `at`, and the
// sequence's length in `length`; a byte that starts no sequence counts as one column.
int ColumnsAt(std::string_view text, size_t at, size_t* length);

}  // namespace quarn
