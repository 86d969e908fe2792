#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>

#include "containers/fat/fat_table.h"
#include "containers/fat/fat_volume.h"

namespace quarn {

// How many entries of the whole volume start at each cluster (a FAT32 root counts as one).
// A chain that holds a cluster where another entry starts is cross-linked though no FAT
// link shows it. Reads every folder of the volume once, through `table`'s chains; nothing
// when a folder's chain is broken or the folders hold more entries than any volume may.
std::optional<std::unordered_map<uint32_t, uint32_t>> CountEntryStarts(FatVolume& volume,
                                                                       const FatTable& table);

}  // namespace quarn
