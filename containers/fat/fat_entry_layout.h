#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Where the fields of a 32-byte FAT folder slot lie: a short entry, or one of the long-name
// entries that precede it.
namespace quarn::fat_entry {

inline constexpr size_t kSlotBytes = 32;
inline constexpr size_t kNameOffset = 0;
inline constexpr size_t kNameBytes = 11;
inline constexpr size_t kAttributesOffset = 11;
inline constexpr size_t kCaseFlagsOffset = 12;
inline constexpr size_t kClusterHighOffset = 20;
inline constexpr size_t kWriteTimeOffset = 22;
inline constexpr size_t kWriteDateOffset = 24;
inline constexpr size_t kClusterLowOffset = 26;
inline constexpr size_t kSizeOffset = 28;

inline constexpr uint8_t kLongNameAttributes = 0x0F;
inline constexpr uint8_t kEndMark = 0x00;
inline constexpr uint8_t kDeletedMark = 0xE5;
// A first name byte of 05 stands for E5, which would read as deleted.
inline constexpr uint8_t kE5StandIn = 0x05;

inline constexpr size_t kLongNameAttributesOffset = 11;
inline constexpr size_t kLongNameChecksumOffset = 13;
inline constexpr size_t kLongNameClusterOffset = 26;
inline constexpr uint8_t kLongNameLast = 0x40;
inline constexpr uint8_t kLongNameOrdinalMask = 0x1F;
inline constexpr size_t kUnitsPerLongEntry = 13;
inline constexpr std::array<size_t, kUnitsPerLongEntry> kLongNameUnitOffsets = {
    1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
// A long name holds at most 255 UTF-16 units: 20 entries.
inline constexpr size_t kMaxLongNameUnits = 255;

}  // namespace quarn::fat_entry
