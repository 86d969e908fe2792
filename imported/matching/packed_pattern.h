#pragma once

#include <string>
#include <string_view>

#include "imported/body_pattern.h"

namespace quarn {

// A body pattern kept in about a byte per byte: a part object per byte would make the
// patterns the verifier keeps for a million signatures gigabytes. Runs of whole bytes are
// stored as they are; masks, gaps and choices as short fields. For the matcher's own
// memory only: no file holds these bytes.
void AppendPackedPattern(const BodyPattern& pattern, std::string& packed);

// The pattern AppendPackedPattern packed, into `pattern` (its parts' storage reused). False
// for bytes it did not pack (they come back with a matcher's image from QUARNX.DAT): every
// field is checked against what is left.
bool UnpackPattern(std::string_view packed, BodyPattern& pattern);

}  // namespace quarn
