#pragma once

// The values of clamd.conf's options, read as clamd reads them. A failure's message is the
// cause alone ("'12x' is not a size"); the caller names the file and the line.

#include <cstdint>
#include <string_view>

#include "platform/status.h"

namespace quarn {

// A decimal number of at most `max`, digits only (no sign, no blanks).
Result<uint64_t> ParseConfigNumber(std::string_view text, uint64_t max);

// A size in bytes: a decimal number, optionally followed by k/K (KiB), m/M (MiB) or g/G
// (GiB). A size of more than one digit that starts with 0 is refused: clamd reads it as
// octal, which nobody writing "0100M" means.
Result<uint64_t> ParseConfigSize(std::string_view text);

// yes/no, true/false or 1/0, in any case; clamd refuses on/off, and so does this.
Result<bool> ParseConfigBoolean(std::string_view text);

// A permission mode in octal digits ("660", "0660"), at most 0777.
Result<uint32_t> ParseConfigMode(std::string_view text);

}  // namespace quarn
