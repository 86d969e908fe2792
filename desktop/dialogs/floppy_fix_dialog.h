// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/user_interface.h"
#include "platform/drive_map.h"
#include "platform/system_access.h"
#include "res/message_table.h"
#include "sysarea/floppy_boot_sector.h"

namespace quarn::tools {

// The string table's id of the question before the write.
inline constexpr int kWriteBootSectorQuestion = 489;

// The floppy drives the fix offers: A: and then B:, each when the map has it as removable;
// as BIOS drive numbers (0 A:, 1 B:).
std::vector<uint8_t> FloppyFixDrives(const DriveMap& drives);

// Runs the Floppy Disk Boot Fix dialog modally over `parent`. On OK, with a drive to write
// to, it asks whether to write and on Yes rewrites the boot sector of the chosen drive in the
// chosen format (WriteFloppyBootSector), then shows the outcome: "Il Boot Sector e' stato
// riscritto." or "Disco Protetto dalla Scrittura!". Questions and messages go to `ui`; the
// first form uses message boxes. Returns what the write came to, or nothing when nothing was
// written (Cancel, No, no drive). The main window has nothing to do afterwards.
std::optional<FloppyBootFixResult> RunFloppyBootFixDialog(QWidget* parent, Language language,
                                                          const DriveMap& drives,
                                                          SystemAccess& system);
std::optional<FloppyBootFixResult> RunFloppyBootFixDialog(QWidget* parent, Language language,
                                                          const DriveMap& drives,
                                                          SystemAccess& system, UserInterface& ui);

}  // namespace quarn::tools
