#pragma once

#include <cstdint>

namespace quarn {

// The groups of a Word document's command table that lie before its macro list are stepped
// over as type byte, u16 count and count entries of this many bytes each; 0 for a type
// that ends the walk. The macro detector and the macro cleaner walk the table the same way.
constexpr uint32_t CommandTableEntrySize(uint8_t group_type) {
  switch (group_type) {
    case 2:
      return 4;
    case 3:
      return 14;
    case 5:
      return 3;
    default:
      return 0;
  }
}

}  // namespace quarn
