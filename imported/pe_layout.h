#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/file.h"

namespace quarn {

// Where one section's bytes lie in the file. `raw_size` is cut to what the file holds: a
// section whose data starts at or past the end has size 0.
struct PeSection {
  uint64_t raw_offset = 0;
  uint64_t raw_size = 0;
  friend bool operator==(const PeSection&, const PeSection&) = default;
};

// What the offset rules of imported signatures need to know about a PE image.
struct PeLayout {
  // AddressOfEntryPoint as a file offset, through the section whose raw data holds it;
  // nothing when none does (entry-point rules then match nothing).
  std::optional<uint64_t> entry_point;
  // In header order. Empty when the image declares none or more than kMaxPeSections.
  std::vector<PeSection> sections;
  friend bool operator==(const PeLayout&, const PeLayout&) = default;
};

// An image declaring more sections than this is malformed: its section rules match nothing.
inline constexpr uint32_t kMaxPeSections = 96;

// The layout of `file` when it is a PE image ("MZ", e_lfanew inside the file, "PE\0\0"
// there), else nothing. Reads at most the DOS header, the file header, the entry-point field
// and kMaxPeSections section headers; moves the file's position; never fails otherwise.
std::optional<PeLayout> ReadPeLayout(File& file);

}  // namespace quarn
