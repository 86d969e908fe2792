#pragma once

#include <cstdint>

#include "platform/file.h"

namespace quarn {

// Whether the `size` bytes of a ZIP entry's data that start at `data_start` in `archive` are
// the entry itself: the local header right in front says so (stored, not encrypted, both
// sizes `size`, its name and extra field ending where the data starts). libarchive hands a
// stored entry's bytes over without telling how many its header gives; this is the check
// that reading them in place takes the entry's bytes and no others.
bool IsStoredZipEntry(File& archive, uint64_t data_start, uint64_t size);

}  // namespace quarn
