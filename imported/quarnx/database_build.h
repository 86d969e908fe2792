#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imported/clamav/import_report.h"
#include "imported/quarnx/database_encoder.h"
#include "platform/status.h"

namespace quarn {

// QUARNX.DAT for what an import gathered into `encoder`, its matcher compiled in: the body
// signatures the matcher refuses are dropped (counted in `report` under their form, with
// the matcher's reason), the rest keep their order. The file's pieces lie in `encoder`.
// Fails only when the matcher cannot be built at all, or the encoder holds too much.
Result<std::vector<std::span<const uint8_t>>> BuildImportedDatabase(
    ImportedDatabaseEncoder& encoder, ImportReport& report);

}  // namespace quarn
