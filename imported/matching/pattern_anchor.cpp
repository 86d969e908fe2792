#include "imported/matching/pattern_anchor.h"

#include <algorithm>
#include <bitset>
#include <span>

#include "imported/matching/pattern_expression.h"

namespace quarn {
namespace {

bool IsWhole(const PatternPart& part) {
  return part.kind == PatternPart::Kind::kByte && part.byte.mask == 0xFF;
}

bool FillsFiles(uint8_t value) {
  return value == 0x00 || value == 0xFF || value == 0x20 || value == 0x90 || value == 0xCC;
}

// Twice the count of different values, a filling value counting once.
int Worth(std::span<const PatternPart> piece) {
  std::bitset<256> seen;
  int worth = 0;
  for (const PatternPart& part : piece) {
    const uint8_t value = part.byte.value;
    if (seen[value]) continue;
    seen[value] = true;
    worth += FillsFiles(value) ? 1 : 2;
  }
  return worth;
}

constexpr int kLeastWorth = 6;  // three different values, none filling

bool PassesNothing(const PatternByte& byte) {
  return (byte.value & ~byte.mask) != 0;
}

// A part no bytes can match: such a pattern is malformed, and refused as a whole expression.
bool MatchesNothing(const PatternPart& part) {
  switch (part.kind) {
    case PatternPart::Kind::kByte:
      return PassesNothing(part.byte);
    case PatternPart::Kind::kJump:
      return part.min > part.max;
    case PatternPart::Kind::kChoice:
      return part.choices.empty() || std::ranges::any_of(part.choices, [](const auto& choice) {
               return choice.empty() || std::ranges::any_of(choice, PassesNothing);
             });
  }
  return true;
}

}  // namespace

std::optional<PatternAnchor> ChooseAnchor(const BodyPattern& pattern) {
  const std::vector<PatternPart>& parts = pattern.parts;
  if (std::ranges::any_of(parts, MatchesNothing)) return std::nullopt;
  size_t best_at = 0;
  size_t best_length = 0;
  int best_worth = 0;
  for (size_t run = 0; run < parts.size();) {
    if (!IsWhole(parts[run])) {
      ++run;
      continue;
    }
    size_t end = run;
    while (end < parts.size() && IsWhole(parts[end])) ++end;
    for (size_t at = run; at < end; ++at) {
      if (parts[at].byte.value == 0) continue;
      const size_t length = std::min(end - at, kLongestAnchor);
      const int worth = Worth(std::span(parts).subspan(at, length));
      if (worth > best_worth || (worth == best_worth && length > best_length)) {
        best_at = at;
        best_length = length;
        best_worth = worth;
      }
    }
    run = end;
  }
  if (best_worth < kLeastWorth) return std::nullopt;
  const std::span<const PatternPart> before = std::span(parts).first(best_at);
  PatternAnchor anchor;
  for (size_t at = best_at; at < best_at + best_length; ++at) {
    anchor.bytes += static_cast<char>(parts[at].byte.value);
  }
  anchor.span_min = MinimumLength(before) + best_length;
  const std::optional<uint64_t> longest = MaximumLength(before);
  anchor.span_max = longest ? *longest + best_length : kUnboundedSpan;
  anchor.whole = best_at == 0 && best_length == parts.size();
  return anchor;
}

}  // namespace quarn
