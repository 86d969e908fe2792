#include "imported/matching/allowed_starts.h"

#include <algorithm>

namespace quarn {
namespace {

// The window `range` bytes long from `base` moved by `delta`; nothing when that position
// falls before the start of the file or beyond any file (a hostile delta).
std::optional<StartWindow> From(uint64_t base, int64_t delta, uint64_t range) {
  constexpr uint64_t kFarthest = uint64_t{1} << 62;
  const uint64_t distance =
      delta < 0 ? uint64_t{0} - static_cast<uint64_t>(delta) : static_cast<uint64_t>(delta);
  if (base > kFarthest || distance > kFarthest) return std::nullopt;
  if (delta < 0 && distance > base) return std::nullopt;
  const uint64_t first = delta < 0 ? base - distance : base + distance;
  return StartWindow{first, first + std::min(range, kFarthest)};
}

}  // namespace

std::optional<StartWindow> AllowedStarts(const OffsetRule& rule, uint64_t size,
                                         const PeLayout* pe) {
  using Base = OffsetRule::Base;
  const uint64_t range = rule.range;
  switch (rule.base) {
    case Base::kAnywhere:
      return StartWindow{0, UINT64_MAX};
    case Base::kAbsolute:
      return From(0, rule.delta, range);
    case Base::kEndOfFile:
      return From(size, rule.delta, range);
    case Base::kEntryPoint:
      if (pe == nullptr || !pe->entry_point) return std::nullopt;
      return From(*pe->entry_point, rule.delta, range);
    case Base::kSectionStart:
      if (pe == nullptr || rule.section >= pe->sections.size()) return std::nullopt;
      return From(pe->sections[rule.section].raw_offset, rule.delta, range);
    case Base::kLastSection:
      if (pe == nullptr || pe->sections.empty()) return std::nullopt;
      return From(pe->sections.back().raw_offset, rule.delta, range);
    case Base::kWholeSection: {
      if (pe == nullptr || rule.section >= pe->sections.size()) return std::nullopt;
      const PeSection& section = pe->sections[rule.section];
      return From(section.raw_offset, 0, section.raw_size + range);
    }
  }
  return std::nullopt;
}

}  // namespace quarn
