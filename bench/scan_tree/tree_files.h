#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "bench/scan_tree/tree_plan.h"

// The contents of the scan-tree files. Every file is benign: ordinary program starts, prose,
// a harmless macro and noise, so a scan of the tree reports nothing and times the walk and
// the detection stage rather than any reporting or action.
namespace quarn::bench {

// True for the kinds written in chunks through FillLargeChunk rather than built whole.
bool IsLarge(FileKind kind);

// The whole contents of a file whose kind is not large. Depends on the file's kind, size and
// seed only.
std::vector<uint8_t> BuildFileBytes(const PlannedFile& file);

// Fills `chunk` with the large file's bytes from `offset` on, so a file of tens of MiB is
// written without being held in memory; the chunks may come in any order and any size.
void FillLargeChunk(const PlannedFile& file, uint64_t offset, std::span<uint8_t> chunk);

}  // namespace quarn::bench
