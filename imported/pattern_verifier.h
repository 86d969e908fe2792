#pragma once

#include <cstdint>
#include <vector>

#include "imported/allowed_starts.h"
#include "imported/body_pattern.h"
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
// for a slice of kStartsPerPass starts at once, as runs of positions: a byte keeps the
// positions whose next byte passes, a choice those followed by one of its strings, a bounded
// gap widens each run by its lengths. Slices go left to right and stop once no later start
// can end earlier than an end found. No start is tried twice and nothing backtracks, so a
// section costs at most (its parts × positions reachable) byte tests, and a pattern with open
// gaps about one walk to the data's end.
//
// The costs are capped: every byte test and every run made is charged to a budget the scan
// sets, and a set of more than kMaxPositionRuns runs (runs lie apart, so only bounded gaps
// that together widen a slice's set by some 127,000 bytes make one) ends the verification;
// both give kOverBudget.
class PatternVerifier {
 public:
  static constexpr size_t kMaxPositionRuns = size_t{1} << 16;
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

  bool ByteAt(uint64_t position, uint8_t& byte);
  bool Charge(uint64_t cost);
  void Append(std::vector<Run>& runs, uint64_t first, uint64_t last);
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
  std::vector<Run> runs_;
  std::vector<Run> next_;
  std::vector<Run> gathered_;
};

}  // namespace quarn
