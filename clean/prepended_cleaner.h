#pragma once

#include <cstdint>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "clean/cleaning_run.h"

namespace quarn {

// Removes a virus placed in front of its host (PrependCleanRecord: the u16 at 2 is the
// length of what stands before the host). The host is copied into a file named like the
// original with its last character replaced by "$" (GAME.COM gives GAME.CO$), created only
// when no such file exists, which then replaces the original in one atomic rename with the
// saved times. A name that already ends in "$" cannot be cleaned this way. Returns 1 when
// the original has been replaced; on 0 the original is as it was and no "$" file is left.
uint32_t CleanPrepended(const CleaningTarget& target, const CleaningContext& context,
                        const CleanRecord& record);

}  // namespace quarn
