#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/user_interface.h"
#include "platform/system_access.h"

namespace quarn {

inline constexpr std::string_view kCannotReadBootSectorText = "Impossibile leggere il Boot Sector.";
inline constexpr std::string_view kCannotWriteBootSectorText =
    "Impossibile Scrivere il Boot Sector.";
// What the callers of WriteBootSector show, caption kErrorCaption, when it gives 0.
inline constexpr std::string_view kWriteProtectedText = "Disco Protetto dalla Scrittura!";

// Reads a boot sector or master boot record. When the disk's mapping cannot be opened it
// says so (kCannotReadBootSectorText, caption kWarningCaption), leaves `sector` as it was and
// gives false.
bool ReadBootSector(SystemAccess& access, UserInterface& ui, uint16_t cylinder_sector,
                    uint16_t head_drive, std::span<uint8_t, kSectorSize> sector);

// Writes a boot sector: 1 when all 512 bytes were written, else 0. When the disk's mapping
// cannot be opened it first says so (kCannotWriteBootSectorText, caption kWarningCaption).
int WriteBootSector(SystemAccess& access, UserInterface& ui, uint16_t cylinder_sector,
                    uint16_t head_drive, std::span<const uint8_t, kSectorSize> sector);

}  // namespace quarn
