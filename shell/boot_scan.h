#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/database_image.h"
#include "engine/user_interface.h"
#include "platform/drive_map.h"
#include "platform/system_access.h"
#include "shell/scan_driver.h"
#include "shell/scan_session.h"
#include "sysarea/boot_detectors.h"

namespace quarn {

// The drive a scan root lies on, as the boot check needs it.
struct BootTarget {
  char letter = 'C';  // the drive's letter, 'A' to 'Z'
  DriveType type = DriveType::kFixed;
  // A drive made of a disk image's partition or of an image named by --drive: its volume's
  // own first sector, judged instead of the sector a BIOS disk has at head 1 (which is the
  // first partition's only), and never removed.
  std::vector<uint8_t> boot_sector;
};

// The drive of a root, or nullopt for a root on no drive letter (a host path outside every
// drive), which gets only the check's header and closing lines.
using BootTargetLookup = std::function<std::optional<BootTarget>(const ScanRoot&)>;

// Where the boot areas lie in BIOS addressing: the master boot record is always the first
// hard disk's cylinder 0, head 0, sector 1; a boot sector is sector 1 of cylinder 0, head 0
// of floppy 0 or 1 for A: and B:, and head 1 of the first hard disk for every other letter.
inline constexpr uint16_t kBootCylinderSector = 0x0001;
inline constexpr uint16_t kMbrHeadDrive = 0x0080;
uint16_t BootSectorHeadDrive(char letter);

// Checks the boot areas of the drive `target` and reports them through the session: the
// header "[" + path + "]" with the drive type's icon; for a fixed disk the master boot
// record; for a fixed or removable disk the boot sector, whose exact finding the two
// cleaning actions remove (after asking, for the second one); and a closing " ". Each area
// read gets one ReportBootVerdict, after its lines and any removal's. A
// successful removal shows the whole check once more (header included) before the closing
// line; that repeat removes again but does not repeat. An area whose BIOS disk has no
// sectors is left out silently; one whose disk cannot be opened is left out after telling
// the user. `path` is the root as shown ("A:", "C:\DOS"). Result 0 for an empty path, which
// shows nothing, else 1. The scan's counters are not touched.
int ScanBootAreas(ScanSession& session, SystemAccess& access, std::string_view path,
                  BootTarget target);

// Puts back the boot sector that the boot virus `virus_id` moved aside on floppy `letter`
// ('A' or 'B'; any other letter gives 0 at once), where its section 29 record says the virus
// noted the place. 1 when the saved sector, which must end with the boot signature, was
// written back as the boot sector; else 0. A disk that cannot be opened and a refused write
// are told to `ui`.
int RemoveFloppyBootVirus(SystemAccess& access, const DatabaseImage& signatures, UserInterface& ui,
                          char letter, uint32_t virus_id);

// The verdict on boot-area bytes that were read other than through a BIOS disk (a sector of
// a disk image met in a walk), for `target` as shown, and the text the check's line would
// give it ("BOOT SECTOR: OK"); `mbr` picks the master boot record's detectors. Shows and
// counts nothing, and never offers a removal.
struct JudgedBootArea {
  BootVerdict verdict;
  std::string text;
};
JudgedBootArea JudgeBootArea(ScanSession& session, SectorView sector, bool mbr,
                             std::string_view target);

// The boot check RunScan runs for each root: ScanBootAreas on the root's display path with
// the drive `lookup` finds. `access` must outlive the check.
BootAreaCheck MakeBootAreaCheck(SystemAccess& access, BootTargetLookup lookup);

}  // namespace quarn
