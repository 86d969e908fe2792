#pragma once

// The answer a SignatureMatcher must give, found the slow and obvious way: each signature
// tried at every start of the bytes, its parts matched one after the other, each gap at
// every length, each choice's every string. Written apart from the matcher (it shares only
// the signature types), so the tests and the fuzz target compare the two. Its cost grows
// with the bytes times the parts times the lengths of the gaps: for small inputs only.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "imported/matching/signature_matcher.h"

namespace quarn::testing {

// Whether a match of `rule` may start at `start` in bytes of `size` (the file's size).
inline bool PlainStartAllowed(const OffsetRule& rule, int64_t start, int64_t size,
                              const PeLayout* pe) {
  using Base = OffsetRule::Base;
  int64_t position = 0;
  int64_t range = rule.range;
  switch (rule.base) {
    case Base::kAnywhere:
      return true;
    case Base::kAbsolute:
      position = rule.delta;
      break;
    case Base::kEndOfFile:
      position = size + rule.delta;
      break;
    case Base::kEntryPoint:
      if (pe == nullptr || !pe->entry_point) return false;
      position = static_cast<int64_t>(*pe->entry_point) + rule.delta;
      break;
    case Base::kSectionStart:
      if (pe == nullptr || rule.section >= pe->sections.size()) return false;
      position = static_cast<int64_t>(pe->sections[rule.section].raw_offset) + rule.delta;
      break;
    case Base::kLastSection:
      if (pe == nullptr || pe->sections.empty()) return false;
      position = static_cast<int64_t>(pe->sections.back().raw_offset) + rule.delta;
      break;
    case Base::kWholeSection:
      if (pe == nullptr || rule.section >= pe->sections.size()) return false;
      position = static_cast<int64_t>(pe->sections[rule.section].raw_offset);
      range += static_cast<int64_t>(pe->sections[rule.section].raw_size);
      break;
  }
  return position >= 0 && start >= position && start <= position + range;
}

inline bool PlainTargetTakesPart(SignatureTarget target, const ScanFacts& facts) {
  if (target == SignatureTarget::kAnyFile) return true;
  if (target == SignatureTarget::kPeFile) {
    return facts.target == ScanTarget::kFile && facts.pe != nullptr;
  }
  return target == SignatureTarget::kOle2Stream && facts.target == ScanTarget::kOle2Stream;
}

inline bool PlainBytePasses(const PatternByte& pattern, uint8_t byte) {
  return (byte & pattern.mask) == pattern.value;
}

// Whether a pattern's parts match from a position, recursively: each byte, each string of a
// choice, each length of a gap in turn. Remembers the (part, position) pairs that failed, so
// that gaps one after the other cost their product once rather than once per start. Recurses
// once per part, never per byte, so long inputs do not exhaust the stack.
class PlainPatternMatch {
 public:
  PlainPatternMatch(const std::vector<PatternPart>& parts, std::span<const uint8_t> bytes)
      : parts_(parts), bytes_(bytes) {}

  // Whether parts[part...] match from `at`, using no byte at or past the end of the bytes.
  bool From(size_t part, size_t at) {
    if (part == parts_.size()) return true;
    // Each start comes once: the first part needs no memory, and most starts end there.
    if (part == 0) return Try(parts_[0], 0, at);
    if (failed_.empty()) failed_.assign(parts_.size() * (bytes_.size() + 1), 0);
    const size_t key = part * (bytes_.size() + 1) + at;
    if (failed_[key] != 0) return false;
    const bool matches = Try(parts_[part], part, at);
    if (!matches) failed_[key] = 1;
    return matches;
  }

 private:
  bool Try(const PatternPart& here, size_t part, size_t at) {
    switch (here.kind) {
      case PatternPart::Kind::kByte:
        return at < bytes_.size() && PlainBytePasses(here.byte, bytes_[at]) &&
               From(part + 1, at + 1);
      case PatternPart::Kind::kChoice:
        for (const std::vector<PatternByte>& choice : here.choices) {
          bool passes = at + choice.size() <= bytes_.size();
          for (size_t index = 0; passes && index < choice.size(); ++index) {
            passes = PlainBytePasses(choice[index], bytes_[at + index]);
          }
          if (passes && From(part + 1, at + choice.size())) return true;
        }
        return false;
      case PatternPart::Kind::kJump:
        if (here.max == kUnboundedJump) {
          // An open gap from `at` is its least length, or an open gap from one byte on: walked
          // until a gap known to fail from some position, which then fails from all before it.
          if (failed_.empty()) failed_.assign(parts_.size() * (bytes_.size() + 1), 0);
          size_t from = at;
          const size_t row = part * (bytes_.size() + 1);
          for (; from + here.min <= bytes_.size(); ++from) {
            if (from > at && failed_[row + from] != 0) break;
            if (From(part + 1, from + here.min)) return true;
          }
          for (size_t failed = at; failed < from && failed <= bytes_.size(); ++failed) {
            failed_[row + failed] = 1;
          }
          return false;
        }
        for (uint64_t gap = here.min; gap <= here.max && at + gap <= bytes_.size(); ++gap) {
          if (From(part + 1, at + gap)) return true;
        }
        return false;
    }
    return false;
  }

  const std::vector<PatternPart>& parts_;
  std::span<const uint8_t> bytes_;
  std::vector<uint8_t> failed_;
};

// The lowest index among `signatures` that matches `file` (the whole file; the facts' byte
// limit cuts it) as `facts` describe the scan.
inline std::optional<uint32_t> PlainSignatureSearch(const std::vector<BodySignature>& signatures,
                                                    std::span<const uint8_t> file,
                                                    const ScanFacts& facts) {
  const std::span<const uint8_t> bytes = file.first(
      static_cast<size_t>(std::min<uint64_t>({file.size(), facts.byte_limit, facts.size})));
  std::optional<uint32_t> lowest;
  for (const BodySignature& signature : signatures) {
    if (lowest && signature.index >= *lowest) continue;
    if (!PlainTargetTakesPart(signature.target, facts)) continue;
    PlainPatternMatch match(signature.pattern.parts, bytes);
    for (size_t start = 0; start < bytes.size(); ++start) {
      if (PlainStartAllowed(signature.offset, static_cast<int64_t>(start),
                            static_cast<int64_t>(facts.size), facts.pe) &&
          match.From(0, start)) {
        lowest = signature.index;
        break;
      }
    }
  }
  return lowest;
}

}  // namespace quarn::testing
