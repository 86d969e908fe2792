#pragma once

#include <string>
#include <string_view>

namespace quarn {

// `text` as it may be written to a terminal: control characters (C0, DEL and C1, by the one
// rule of ControlCharacterLength that result lines follow too) become "?" and bytes that are
// not UTF-8 become U+FFFD, so no file name can move the cursor, recolour the screen or forge
// a line.
std::string TerminalSafeText(std::string_view text);

// Widths are terminal columns (CharacterColumns): a CJK character takes two, a combining
// mark none.

// `text` cut to at most `columns` columns, not splitting a character; a wide character that
// would straddle the limit is left out.
std::string FitColumns(std::string_view text, size_t columns);

// The columns UTF-8 `text` takes.
size_t CountColumns(std::string_view text);

// `text` when it fits in `columns` columns, else "..." and as much of its end as fits: the
// end of a deep folder's path is the part that moves.
std::string FitColumnsKeepingEnd(std::string_view text, size_t columns);

}  // namespace quarn
