#pragma once

#include <cstdint>
#include <optional>

#include "imported/matching/pe_layout.h"
#include "imported/offset_rule.h"

namespace quarn {

// The file positions at which a signature's match may start: `first` to `last`, both
// included. "Anywhere" is the window from 0 to UINT64_MAX.
struct StartWindow {
  uint64_t first = 0;
  uint64_t last = 0;
  bool Holds(uint64_t position) const { return position >= first && position <= last; }
  friend bool operator==(const StartWindow&, const StartWindow&) = default;
};

// Where `rule` lets a match start in a file of `size` bytes whose PE layout is `pe` (null
// when it is not a PE image); nothing when the rule cannot match that file: a position
// before the file's start, an entry point or section the file does not have. A whole section
// ("SEx") lets a match start anywhere from its first byte to its end.
std::optional<StartWindow> AllowedStarts(const OffsetRule& rule, uint64_t size, const PeLayout* pe);

}  // namespace quarn
