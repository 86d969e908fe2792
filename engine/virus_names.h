#pragma once

#include <cstdint>
#include <string>

#include "engine/database_image.h"

namespace quarn {

// The display name of `virus_id` from the name image: the bytes of its 28-byte name field up
// to the first zero byte (all 28 when there is none). An id whose record would lie beyond
// the image, and id 0, read as "#<id>" ("#4711").
std::string GetVirusName(const DatabaseImage& names, uint32_t virus_id);

// How many name records the image holds whole.
uint32_t NameRecordCount(const DatabaseImage& names);

}  // namespace quarn
