#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "imported/body_pattern.h"

namespace quarn {

// A few whole bytes of a body pattern that every match holds at a known distance from its
// start: Vectorscan looks for these alone, and each place it finds them is a candidate the
// verifier confirms. Vectorscan compiles a million short literals in a fraction of the time
// and memory a million whole expressions take, and its time grows with their length.
//
// Every match of the pattern from start s holds the anchor ending at E with E - s between
// `span_min` and `span_max` (kUnboundedSpan when an open gap lies before the anchor).
// `whole` when the anchor is the whole pattern: each place found is a match.
struct PatternAnchor {
  std::string bytes;
  uint64_t span_min = 0;
  uint64_t span_max = 0;
  bool whole = false;
};

// Longest anchor taken: Vectorscan's literal matcher tells literals apart by their first
// eight bytes, and longer ones cost its compile more than they spare the verifier.
inline constexpr size_t kLongestAnchor = 8;

// The anchor least likely to occur in ordinary files: of the runs of whole bytes, the piece of
// up to kLongestAnchor bytes with the most different values, bytes that fill files (00, FF,
// 20, 90, CC) counting for less. Nothing when no piece has three different values, as in
// "0000??0000": such a pattern is compiled whole, or its candidates would be every place
// of a run of zeros; nor for a malformed pattern (a byte no value passes, a choice of
// nothing), whose whole expression Vectorscan refuses. An anchor never starts with a NUL, which
// Vectorscan's literal compiler refuses.
std::optional<PatternAnchor> ChooseAnchor(const BodyPattern& pattern);

}  // namespace quarn
