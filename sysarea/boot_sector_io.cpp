// SPDX-License-Identifier: Apache-2.0
#include "sysarea/boot_sector_io.h"

namespace quarn {

bool ReadBootSector(SystemAccess& access, UserInterface& ui, uint16_t cylinder_sector,
                    uint16_t head_drive, std::span<uint8_t, kSectorSize> sector) {
  if (access.CallReadPhysicalSector1(cylinder_sector, head_drive, sector)) return true;
  ui.ShowWarning(ui.Text(kCannotReadBootSectorText));
  return false;
}

int WriteBootSector(SystemAccess& access, UserInterface& ui, uint16_t cylinder_sector,
                    uint16_t head_drive, std::span<const uint8_t, kSectorSize> sector) {
  switch (access.CallWritePhysicalSector1(cylinder_sector, head_drive, sector)) {
    case SectorWriteResult::kWritten:
      return 1;
    case SectorWriteResult::kCannotOpen:
      ui.ShowWarning(ui.Text(kCannotWriteBootSectorText));
      return 0;
    case SectorWriteResult::kRefused:
      return 0;
  }
  return 0;
}

}  // namespace quarn
