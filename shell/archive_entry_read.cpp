// SPDX-License-Identifier: Apache-2.0
#include "shell/archive_entry_read.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace quarn {

ReadOutcome SpoolEntry(const ContainerLimits& limits, ContainerBudget& budget,
                       const std::atomic<bool>& stop, ArchiveReader& archive, EntrySpool& spool,
                       std::optional<uint64_t> header_size) {
  const uint64_t packed_start = archive.PackedBytesRead();
  if (std::optional<EntryInPlace> in_place = archive.FindInPlace()) {
    budget.unpacked += in_place->size;
    if (budget.unpacked > limits.max_scan_size) return {IncompleteReason::kSize, true};
    if (in_place->size > limits.max_file_size) return {IncompleteReason::kSize, false};
    spool.Refer(*in_place);
    return {};
  }
  if (header_size) spool.Reserve(std::min(*header_size, limits.max_file_size));
  std::array<uint8_t, kPackedFloor> block;
  while (true) {
    if (std::chrono::steady_clock::now() > budget.deadline) {
      return {IncompleteReason::kTime, true};
    }
    if (stop.load()) return {std::nullopt, true};
    const EntryRead read = archive.ReadData(block.data(), block.size());
    if (read.failure) return {read.failure, false};
    if (read.bytes == 0) return {};
    budget.unpacked += read.bytes;
    if (budget.unpacked > limits.max_scan_size) return {IncompleteReason::kSize, true};
    if (spool.size() + read.bytes > limits.max_file_size) return {IncompleteReason::kSize, false};
    const uint64_t unpacked = spool.size() + read.bytes;
    const uint64_t packed_now = archive.PackedBytesRead();
    const uint64_t packed =
        std::max(kPackedFloor, packed_now > packed_start ? packed_now - packed_start : 0);
    if (unpacked > kRatioFloor && unpacked / packed >= limits.max_ratio) {
      return {IncompleteReason::kRatio, false};
    }
    // No temporary file to hold the entry ($TMPDIR missing, full or closed to us): the
    // entry was never judged, whatever it holds; smaller entries may still fit in memory.
    if (!spool.Append(block.data(), read.bytes)) return {IncompleteReason::kResource, false};
  }
}

}  // namespace quarn
