#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/database_image.h"
#include "engine/section_walk.h"
#include "engine/signature_index.h"

namespace quarn {

// A walk over the records of one section that a byte-keyed index (kEntryBytes, kCodeFilter,
// kFileEnd, kMacroText) says could pass their first test, in the section's order; without
// an index, every record, as SectionWalk gives them. The records skipped are exactly those
// whose first test fails on a byte that stays as it is for the whole walk, so a detector
// sees the same answers, makes the same reads and leaves the same bytes behind as with
// the linear walk. Never allocates.
class CandidateWalk {
 public:
  // `index` may be null. `buffer` is what the records' first test compares with, as it
  // stands when the walk begins; it is read here only.
  CandidateWalk(const DatabaseImage& image, uint16_t directory_offset, uint8_t reader_size,
                const RecordIndex* index, std::span<const uint8_t> buffer);

  bool AtEnd() const { return linear_ ? linear_->AtEnd() : run_count_ == 0; }
  // The current record's bytes; valid until Next().
  std::span<const uint8_t> Record() const {
    return linear_ ? linear_->Record() : index_->Record(image_, current_);
  }
  void Next();

 private:
  // Ordinals of one bucket not yet visited.
  struct Run {
    const uint16_t* next;
    const uint16_t* end;
  };
  // A bucket for each single and each pair position, and the records visited always.
  static constexpr size_t kMaxRuns = 2 * kIndexedBufferSize + 1;

  void Add(std::span<const uint16_t> ordinals);
  void Settle();

  const DatabaseImage& image_;
  const RecordIndex* index_;
  std::optional<SectionWalk> linear_;
  // A min-heap of runs by their next ordinal; the top's is the current record.
  std::array<Run, kMaxRuns> runs_;
  size_t run_count_ = 0;
  uint16_t current_ = 0;
};

}  // namespace quarn
