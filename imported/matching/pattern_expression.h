#pragma once

#include <cstdint>
#include <string>

#include "imported/body_pattern.h"

namespace quarn {

// A body pattern written as a Vectorscan expression (to be compiled with HS_FLAG_DOTALL),
// and what its reports say about the pattern's matches.
//
// Every match of the pattern, from start s, makes the expression report an end E with
// E - s between `span_min` and `span_max`. When `exact`, every report is such a match's end
// and the span is the pattern's own length; otherwise reports are only candidates: the
// expression was widened where Vectorscan would compile the pattern slowly or not at all
// (a gap longer than kLargestWrittenGap is written open-ended; a pattern whose expression
// would pass kLongestExpression or one of the bounds on repeats below is cut to a leading
// part, whose span is then given).
struct PatternExpression {
  std::string text;  // empty when not even the first part can be written
  bool exact = true;
  uint64_t span_min = 0;
  uint64_t span_max = 0;  // kUnboundedSpan when a gap is open-ended
};

inline constexpr uint64_t kUnboundedSpan = UINT64_MAX;

// Gaps up to this many bytes are written as they are; Vectorscan's compile time grows with a
// gap's length and it refuses any beyond 32767.
inline constexpr uint32_t kLargestWrittenGap = 64;

// Vectorscan refuses expressions of about 16,000 characters.
inline constexpr size_t kLongestExpression = 12000;

// Vectorscan's compile time grows far faster than the count and the lengths of the counted
// repeats (".{n}", ".{n,m}", ".{n,}") in one expression: 200 two-byte pieces joined by
// ".{0,64}" take it minutes, 120 a minute and a half, 40 joined by ".{0,16}" two seconds. Up
// to these bounds no expression measured took 100 ms. A "." per byte of any value costs as a
// repeat of that length does (12,000 of them half a second) and counts toward the width.
// ".*" costs far less, but 1,200 of them still over a second.
inline constexpr uint32_t kMostRepeats = 8;
// The repeats' greatest counts and the bytes of any value, added up.
inline constexpr uint32_t kMostRepeatWidth = 512;
inline constexpr uint32_t kMostOpenRepeats = 64;  // ".*"

// Whole bytes as themselves (letters and digits) or "\xNN", any byte as ".", other masks as a
// class of the bytes they let through (one that lets none through as a class of none, which
// Vectorscan refuses), gaps as ".{n,m}", choices as "(?:…|…)". Writes nothing the pattern
// does not hold: a malformed pattern (a choice of nothing, a gap whose least length passes its
// greatest) gives an expression Vectorscan refuses rather than a wider one.
PatternExpression WritePatternExpression(const BodyPattern& pattern);

}  // namespace quarn
