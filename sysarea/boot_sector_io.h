// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/user_interface.h"
#include "platform/system_access.h"

namespace quarn {

// The string table's ids of the texts shown when a boot sector cannot be read or written.
inline constexpr int kCannotReadBootSectorText = 479;
inline constexpr int kCannotWriteBootSectorText = 480;
// What the callers of WriteBootSector show, caption kErrorCaption, when it gives 0.
inline constexpr int kWriteProtectedText = 481;
// Followed by a path or a drive: what no action may change (a file inside a container, a
// disk inside a disk image wrapper).
inline constexpr int kCannotChangeText = 445;

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
