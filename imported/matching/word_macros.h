#pragma once

#include <cstdint>
#include <functional>

#include "platform/file.h"

namespace quarn {

// Calls `visit` with the text of each macro that the macro table of a Word 6 "WordDocument"
// stream lists, in table order, as a read-only file of the macro's bytes deciphered with its
// key (XOR with the entry's key byte; a key of 0 leaves them clear). The table is found
// through the FIB (offset at 0x118, length at 0x11C; a length of 0 means no macros) and
// walked as ClamAV walks it: the groups before the macro list are stepped over, an unknown
// group ends the walk. A macro of length 0 or whose bytes do not all lie in the stream is
// passed over, and the walk ends at the first macro that would take the text visited past
// `byte_limit` bytes. Returns the bytes of macro text visited. Moves `stream`'s position;
// `visit` may read the file it is given only while it runs.
uint64_t ForEachWordMacro(File& stream, uint64_t byte_limit,
                          const std::function<void(File& text)>& visit);

}  // namespace quarn
