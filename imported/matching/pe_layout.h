#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/file.h"

namespace quarn {

// Where one section's bytes lie in the file as the loader of signature offsets maps them:
// PointerToRawData rounded down and SizeOfRawData rounded up to the file alignment (0x200
// when a pointer is aligned to that but not to the declared one), then cut to what the file
// holds: a section whose data starts at or past the end has size 0.
struct PeSection {
  uint64_t raw_offset = 0;
  uint64_t raw_size = 0;
  friend bool operator==(const PeSection&, const PeSection&) = default;
};

// What the offset rules of imported signatures need to know about a PE image.
struct PeLayout {
  // AddressOfEntryPoint as a file offset: itself when it lies in the headers (below
  // SizeOfHeaders rounded up to the section alignment), else through the last section in the
  // table whose raw data holds it. Nothing when the layout is empty.
  std::optional<uint64_t> entry_point;
  // In header order.
  std::vector<PeSection> sections;
  friend bool operator==(const PeLayout&, const PeLayout&) = default;
};

// An image declaring more sections than this is malformed: its section rules match nothing.
inline constexpr uint32_t kMaxPeSections = 96;

// The layout of `file` when it is an executable of target 1 as ClamAV types files: any file
// that starts with "MZ", else nothing. The layout is empty (no entry point, no sections: no
// rule relative to the image holds) unless the file is a PE image ("PE\0\0" at e_lfanew)
// whose headers the loader takes: it refuses no sections or more than kMaxPeSections, an
// optional header too short for its fixed part or the directories it counts, a section
// table cut short, a section field with its sign bit set, an entry point that maps to no
// byte of the file. Reads at most the DOS header, the file and optional headers and
// kMaxPeSections section headers; moves the file's position; never fails otherwise.
std::optional<PeLayout> ReadPeLayout(File& file);

}  // namespace quarn
