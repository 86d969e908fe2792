#pragma once

#include <cstdint>
#include <vector>

#include "imported/import_report.h"
#include "imported/imported_signature.h"
#include "platform/status.h"

namespace quarn {

// QUARNX.DAT's bytes for what an import gathered, its matcher compiled in: the body
// signatures the matcher refuses are dropped (counted in `report` under their form, with
// the matcher's reason), the rest keep their order. Fails only when the matcher cannot be
// built at all.
Result<std::vector<uint8_t>> BuildImportedDatabase(std::vector<ImportedSignature> signatures,
                                                   ImportReport& report);

}  // namespace quarn
