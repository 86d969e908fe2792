#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

// One byte of a pattern: a file byte b matches when (b & mask) == value. A whole byte has mask
// FF, a nibble wildcard F0 or 0F, "??" 00.
struct PatternByte {
  uint8_t value = 0;
  uint8_t mask = 0xFF;
  friend bool operator==(const PatternByte&, const PatternByte&) = default;
};

inline constexpr uint32_t kUnboundedJump = UINT32_MAX;

// One part of a body pattern, in order: a byte, a gap of `min` to `max` bytes of anything
// ("{n}", "{n-m}", "{-n}", "{n-}", "*"; max kUnboundedJump when open), or a choice between
// byte strings ("(41|42|4344)"), which may differ in length.
struct PatternPart {
  enum class Kind : uint8_t { kByte, kJump, kChoice };
  Kind kind = Kind::kByte;
  PatternByte byte;
  uint32_t min = 0;
  uint32_t max = 0;
  std::vector<std::vector<PatternByte>> choices;
  bool tied = false;  // a gap written "[n-m]": it ties one byte to a piece of the pattern
  friend bool operator==(const PatternPart&, const PatternPart&) = default;
};

// A body signature's hex text, parsed. Starts and ends with a byte or a choice, never a gap.
struct BodyPattern {
  std::vector<PatternPart> parts;
  friend bool operator==(const BodyPattern&, const BodyPattern&) = default;
};

// Why a body signature cannot be taken, for the import report: each reason names a
// construct of the source format the matcher does not express.
enum class PatternSkip : uint8_t {
  kMalformed,        // not hex, an odd digit, an unclosed group, an empty pattern
  kNegation,         // "!(…)"
  kAnchoredChoice,   // "(B)" and "(L)" word and line boundaries
  kNestedOrComplex,  // a choice holding gaps, wildcards or groups
  kTooShort,         // fewer than kMinimumFixedBytes whole bytes in a row (in a piece)
  kTooLong,          // more than kMaximumPatternBytes
  kMisplacedRange,   // "[n-m]" not tying one byte to a piece's end, or over 32 bytes
};

// A pattern must hold this many whole bytes in a row somewhere: shorter ones would match
// nearly every file and cost every scan a hit to check.
inline constexpr size_t kMinimumFixedBytes = 2;
inline constexpr size_t kMaximumPatternBytes = 64 * 1024;

struct ParsedPattern {
  std::optional<BodyPattern> pattern;
  PatternSkip skip = PatternSkip::kMalformed;
};

// Parses a body signature's hex text ("4d5a??90{2-4}(41|42)*c3").
ParsedPattern ParseBodyPattern(std::string_view hex);

// Why ClamAV refuses a pattern that parses (and with it the whole database that holds it),
// or nothing. ClamAV cuts a pattern into pieces at every "*", every ranged gap and every fixed
// gap of 128 bytes or more: each piece needs kMinimumFixedBytes whole bytes in a row, and a
// "[n-m]" (at most 32) must tie a single byte to the first or last of its piece.
std::optional<PatternSkip> PieceClamavRefuses(const BodyPattern& pattern);

// The pattern written back in the source's own hex syntax; ParseBodyPattern gives it back.
std::string FormatBodyPattern(const BodyPattern& pattern);

// The shortest run of file bytes the pattern, or a run of its parts, can match.
uint64_t MinimumLength(std::span<const PatternPart> parts);
inline uint64_t MinimumLength(const BodyPattern& pattern) {
  return MinimumLength(pattern.parts);
}

// The longest, or nothing when a gap is open.
std::optional<uint64_t> MaximumLength(std::span<const PatternPart> parts);
inline std::optional<uint64_t> MaximumLength(const BodyPattern& pattern) {
  return MaximumLength(pattern.parts);
}

std::string_view PatternSkipName(PatternSkip skip);

}  // namespace quarn
