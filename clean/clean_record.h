#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/database_image.h"

namespace quarn {

// The largest cleaning record of any section (the encrypted ones, 24 bytes).
inline constexpr size_t kMaxCleanRecordSize = 24;

// One cleaning record, copied out of the database so it outlives the section walk.
struct CleanRecord {
  std::array<uint8_t, kMaxCleanRecordSize> bytes{};
  uint8_t size = 0;

  std::span<const uint8_t> view() const { return {bytes.data(), size}; }
};

// The first record of `section_index` whose first u16 equals the low 16 bits of `virus`,
// walked at the section's reader size; nothing for an unwalkable section or no match.
std::optional<CleanRecord> FindCleanRecord(const DatabaseImage& signatures, int section_index,
                                           uint32_t virus);

}  // namespace quarn
