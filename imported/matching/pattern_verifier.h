#pragma once

#include <cstdint>
#include <vector>

#include "imported/body_pattern.h"
#include "imported/matching/allowed_starts.h"
#include "platform/file.h"

namespace quarn {

enum class Verification : uint8_t {
  kMatch,
  kNoMatch,
  kOverBudget,  // stopped before an answer: the scan's budget is spent or too many positions
};

// Confirms a body pattern at allowed start positions, reading the file itself. Used where a
// Vectorscan report cannot tell where the match started.
//
// The open gaps ("*", "{n-}") cut the pattern into sections. Whatever a section's match ends
// at, the open gap after it lets the next section start anywhere from that end plus the gap's
// least length to the data's end: only a section's earliest end matters, and the pattern
// matches when each section, taken left to right from the earliest end of the one before,
// matches somewhere. A section is followed through the set of positions its parts can end at,
// for a slice of starts at once: a byte keeps the positions whose next byte passes, a choice
// those followed by one of its strings, a bounded gap widens each position to the range its
// lengths reach. A slice's positions lie between its first start and its last start plus the
// section's longest length, so the set is a bitmap over that window, and no pattern of
// positions, however scattered, costs more than the window's bits. A slice takes as many
// starts as the section is long (at least kStartsPerPass), so windows overlap at most by
// half. Slices go left to right and stop once no later start can end earlier than an end
// found. Nothing backtracks, so a section costs at most about twice (its parts × positions
// reachable) byte tests, and a pattern with open gaps about one walk to the data's end.
//
// The costs are capped: every byte test, and every 64 positions of the bitmap walked, are
// charged to a budget the scan sets, and a window of more than kMaxWindowPositions (only a
// section whose bounded gaps add up to some 64 million bytes, in a file longer than that,
// makes one) ends the verification; both give kOverBudget.
class PatternVerifier {
 public:
  static constexpr uint64_t kMaxWindowPositions = uint64_t{1} << 26;
  static constexpr uint32_t kBlockSize = 64 * 1024;
  static constexpr uint64_t kStartsPerPass = 4096;

  PatternVerifier();

  // Starts a scan of `file`, whose bytes from `data_end` on are not looked at, with `budget`
  // byte tests for all its verifications. Forgets the bytes read for the previous scan.
  void BeginScan(File& file, uint64_t data_end, uint64_t budget);

  // Whether the pattern matches from some start in `starts`, ending at or before the data's
  // end. Moves the file's position. Reads one aligned block of kBlockSize bytes at a time and
  // keeps the last one.
  Verification MatchesFromSomeStart(const BodyPattern& pattern, StartWindow starts);

  uint64_t budget_left() const { return budget_; }

 private:
  struct Run {
    uint64_t first;
    uint64_t last;
  };

  // Positions window_first_ + i for the bits i set; words outside [low_, high_) are zero.
  struct PositionSet {
    std::vector<uint64_t> words;
    size_t low = 0;
    size_t high = 0;
  };

  bool ByteAt(uint64_t position, uint8_t& byte);
  bool Charge(uint64_t cost);
  // Readies next_, all zero, for a step's results, charging the walk over set_'s words.
  bool BeginStep();
  void Mark(uint64_t index);
  bool MarkRange(uint64_t first, uint64_t last);
  static void Empty(PositionSet& set);
  // Makes next_ the set, leaving the old set's words zero for the next step.
  void EndStep();
  bool StepByte(const PatternByte& byte);
  bool StepChoice(const PatternPart& part);
  bool StepGap(uint32_t min, uint32_t max);
  // The earliest position the parts [begin, end), none of them an open gap, can end at from
  // a start in `starts`, in `earliest`; kNoMatch when they match from none.
  Verification EarliestEnd(const BodyPattern& pattern, size_t begin, size_t end, Run starts,
                           uint64_t& earliest);

  File* file_ = nullptr;
  uint64_t data_end_ = 0;
  uint64_t budget_ = 0;
  std::vector<uint8_t> block_;
  uint64_t block_start_ = 0;
  uint32_t block_length_ = 0;
  uint64_t window_first_ = 0;
  uint64_t window_positions_ = 0;
  PositionSet set_;
  PositionSet next_;
};

}  // namespace quarn
