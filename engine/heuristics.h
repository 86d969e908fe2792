#pragma once

#include <cstdint>

#include "engine/behaviour_mask.h"
#include "engine/database_image.h"
#include "platform/file.h"

namespace quarn {

// True when `mask` is exactly one of the combinations seen in file infectors; a mask that
// merely contains one is not.
bool IsSuspiciousExecutableMask(BehaviourMask mask);
bool IsSuspiciousNonExecutableMask(BehaviourMask mask);

// Whether the code at the entry of a file with an "MZ" header behaves like a file infector:
// 1 = suspicious, 0 = not. The entry is the one LocateEntryCode finds. `signatures` is
// accepted for the scan's calling convention and not read. Moves the file's position.
int CheckExecutableHeuristics(const DatabaseImage& signatures, File& file);

// The same for any other file, with the entry LocateComEntry finds and its own mask set.
int CheckNonExecutableHeuristics(const DatabaseImage& signatures, File& file);

}  // namespace quarn
