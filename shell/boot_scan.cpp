// SPDX-License-Identifier: Apache-2.0
#include "shell/boot_scan.h"

#include <array>
#include <string>

#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "engine/virus_names.h"
#include "platform/byte_reader.h"
#include "shell/action_texts.h"
#include "sysarea/boot_detectors.h"
#include "sysarea/boot_sector_io.h"

namespace quarn {
namespace {

constexpr int kInfectedText = 23;
constexpr int kVariantText = 24;
constexpr int kNewGenerationText = 25;

constexpr std::string_view kMbrPrefix = "MASTER BOOT RECORD: ";
constexpr std::string_view kBootSectorPrefix = "BOOT SECTOR: ";
constexpr std::string_view kClean = "OK";

// BootRemovalRecord (section 29).
constexpr int kRemovalIdField = 0;
constexpr int kRemovalCylinderSectorField = 2;
constexpr int kRemovalHeadDriveField = 4;
constexpr int kRemovalIncrementField = 6;
constexpr uint16_t kNotRemovable = 0xFFFF;

// FAT boot-sector fields the removal reads.
constexpr int kSectorsPerTrackField = 0x18;
constexpr int kHeadCountField = 0x1A;
constexpr int kBootSignatureField = 0x1FE;
constexpr uint16_t kBootSignature = 0xAA55;

constexpr int kRepeatsAfterRemoval = 1;

using SectorBuffer = std::array<uint8_t, kSectorSize>;

enum class BootArea { kMasterBootRecord, kBootSector };

struct AreaVerdict {
  uint32_t virus_id = 0;
  uint16_t variant_flag = 0;
  std::string virus_name;
  bool suspicious = false;
};

ResultIcon DriveIcon(DriveType type) {
  switch (type) {
    case DriveType::kFixed:
      return ResultIcon::kHardDisk;
    case DriveType::kRemovable:
      return ResultIcon::kFloppy;
    case DriveType::kCdRom:
      return ResultIcon::kCdRom;
    default:
      return ResultIcon::kNetwork;
  }
}

char UpperLetter(char letter) {
  return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
}

// A disk that cannot be opened leaves the buffer as it was, which says nothing about the
// disk: the caller skips what it wanted the sector for.
bool ReadSector(SystemAccess& access, UserInterface& ui, uint16_t cylinder_sector,
                uint16_t head_drive, SectorBuffer& sector) {
  return ReadBootSector(access, ui, cylinder_sector, head_drive, sector);
}

BootVerdict Reported(std::string_view path, BootArea area, const AreaVerdict& verdict) {
  BootVerdict report;
  report.target = std::string(path);
  report.area = area == BootArea::kMasterBootRecord ? "mbr" : "boot";
  report.virus_id = verdict.virus_id;
  report.virus_name = verdict.virus_name;
  report.variant = verdict.variant_flag == 1;
  report.suspicious = verdict.suspicious;
  return report;
}

AreaVerdict JudgeSector(ScanSession& session, SectorView sector, BootArea area) {
  const bool mbr = area == BootArea::kMasterBootRecord;
  AreaVerdict verdict;
  verdict.virus_id =
      mbr ? DetectMbrVirus(session.signatures(), sector, &verdict.variant_flag)
          : DetectBootSectorVirus(session.signatures(), sector, &verdict.variant_flag);
  if (verdict.virus_id == 0 && session.imported() != nullptr) {
    if (const std::optional<uint32_t> index = session.imported()->MatchBootArea(sector)) {
      verdict.virus_id = kImportedVirusIdBase + *index;
      verdict.variant_flag = 0;
    }
  }
  verdict.suspicious = verdict.virus_id == 0 && session.options().heuristics_enabled == 1 &&
                       CheckBootHeuristics(session.signatures(), sector) == 1;

  if (verdict.virus_id != 0) verdict.virus_name = session.VirusName(verdict.virus_id);
  return verdict;
}

std::string AreaText(Language language, BootArea area, const AreaVerdict& verdict) {
  std::string text(area == BootArea::kMasterBootRecord ? kMbrPrefix : kBootSectorPrefix);
  if (verdict.virus_id != 0) {
    text += LoadText(language, verdict.variant_flag == 1 ? kVariantText : kInfectedText);
    text += verdict.virus_name;
  } else if (verdict.suspicious) {
    text += LoadText(language, kNewGenerationText);
  } else {
    text += kClean;
  }
  return text;
}

// Judges one area's sector and adds its line; the caller reports the verdict once it is final.
AreaVerdict JudgeAndShow(ScanSession& session, SectorView sector, BootArea area) {
  const AreaVerdict verdict = JudgeSector(session, sector, area);
  const bool found = verdict.virus_id != 0 || verdict.suspicious;
  session.AddTextLine(found ? ResultIcon::kVirus : ResultIcon::kBlank,
                      AreaText(session.language(), area, verdict));
  return verdict;
}

// Reads and judges one area and adds its line; the caller reports the verdict once it is
// final. nullopt when the area could not be read.
std::optional<AreaVerdict> CheckArea(ScanSession& session, SystemAccess& access, BootArea area,
                                     uint16_t head_drive) {
  if (!access.HasSectors(static_cast<uint8_t>(head_drive))) return std::nullopt;
  SectorBuffer sector{};
  if (!ReadSector(access, session.ui(), kBootCylinderSector, head_drive, sector)) {
    return std::nullopt;
  }
  return JudgeAndShow(session, sector, area);
}

// Removes the boot sector's virus as the scan action says and adds the outcome's line: 1 or
// 0 for an attempt, nullopt when none was made. A disk that no write may change (one inside
// a wrapper) refuses it with its own line, before any question.
std::optional<int> OfferRemoval(ScanSession& session, SystemAccess& access, std::string_view path,
                                char letter, const AreaVerdict& verdict) {
  const auto line = [&](int text, std::string_view tail) {
    session.AddTextLine(ResultIcon::kBlank,
                        std::string(LoadText(session.language(), text)) + std::string(tail));
  };
  const bool changeable =
      access.SectorsChangeable(static_cast<uint8_t>(BootSectorHeadDrive(letter)));
  const auto remove = [&] {
    if (!changeable) {
      line(kCannotChangeText, path);
      return 0;
    }
    const int removed =
        RemoveFloppyBootVirus(access, session.signatures(), session.ui(), letter, verdict.virus_id);
    line(removed == 1 ? kRemovedLine : kContactSupportLine, "");
    return removed;
  };
  switch (session.options().scan_action) {
    case kActionCleanAuto:
      return remove();
    case kActionCleanAsk: {
      const Language language = session.language();
      const std::string question =
          std::string(LoadText(language, kFloppyCleanQuestion)) + std::string(path.substr(0, 3)) +
          std::string(LoadText(language, kQuestionVirus)) + verdict.virus_name;
      if (changeable && !session.ui().Ask(LoadText(language, kCleanCaption), question))
        return std::nullopt;
      return remove();
    }
    default:
      return std::nullopt;
  }
}

int ScanBootAreasRepeating(ScanSession& session, SystemAccess& access, std::string_view path,
                           BootTarget target, int repeats_left);

// The boot sector's line, the removal the scan action asks for and its line, then the one
// report of the verdict: a removal's outcome belongs to it, so the report waits for the
// removal. After a removal that worked, the whole check runs again and reports on its own.
void CheckBootSector(ScanSession& session, SystemAccess& access, std::string_view path,
                     BootTarget target, int repeats_left) {
  if (!target.boot_sector.empty()) {
    SectorBuffer sector{};
    std::copy_n(target.boot_sector.begin(), std::min(target.boot_sector.size(), sector.size()),
                sector.begin());
    const AreaVerdict verdict = JudgeAndShow(session, sector, BootArea::kBootSector);
    session.ui().ReportBootVerdict(Reported(path, BootArea::kBootSector, verdict));
    return;
  }
  const char letter = UpperLetter(target.letter);
  std::optional<AreaVerdict> verdict =
      CheckArea(session, access, BootArea::kBootSector, BootSectorHeadDrive(letter));
  if (!verdict) return;
  std::optional<int> removed;
  if (verdict->virus_id != 0 && verdict->variant_flag == 0) {
    removed = OfferRemoval(session, access, path, letter, *verdict);
  }
  BootVerdict report = Reported(path, BootArea::kBootSector, *verdict);
  if (removed) report.removed = *removed == 1;
  session.ui().ReportBootVerdict(report);
  if (removed == 1 && repeats_left > 0) {
    ScanBootAreasRepeating(session, access, path, target, repeats_left - 1);
  }
}

int ScanBootAreasRepeating(ScanSession& session, SystemAccess& access, std::string_view path,
                           BootTarget target, int repeats_left) {
  if (path.empty()) return 0;
  session.AddTextLine(DriveIcon(target.type), "[" + std::string(path) + "]");
  if (target.type == DriveType::kFixed) {
    if (std::optional<AreaVerdict> mbr =
            CheckArea(session, access, BootArea::kMasterBootRecord, kMbrHeadDrive)) {
      session.ui().ReportBootVerdict(Reported(path, BootArea::kMasterBootRecord, *mbr));
    }
  }
  if (target.type == DriveType::kFixed || target.type == DriveType::kRemovable) {
    CheckBootSector(session, access, path, target, repeats_left);
  }
  session.AddTextLine(ResultIcon::kBlank, " ");
  return 1;
}

struct RemovalRecord {
  uint16_t cylinder_sector_at = 0;
  uint16_t head_drive_at = 0;
  uint8_t increment = 0;
};

std::optional<RemovalRecord> FindRemovalRecord(const DatabaseImage& signatures, uint32_t virus_id) {
  // An imported signature's id has no record here; cut to 16 bits it would name another's.
  if (IsImportedVirusId(virus_id)) return std::nullopt;
  for (SectionWalk walk(signatures, DirectoryOffset(kBootRemovalSection), kBootRemovalRecordSize);
       !walk.AtEnd(); walk.Next()) {
    std::span<const uint8_t> record = walk.Record();
    if (ReadU16(record, kRemovalIdField) != static_cast<uint16_t>(virus_id)) continue;
    return RemovalRecord{ReadU16(record, kRemovalCylinderSectorField),
                         ReadU16(record, kRemovalHeadDriveField), record[kRemovalIncrementField]};
  }
  return std::nullopt;
}

}  // namespace

uint16_t BootSectorHeadDrive(char letter) {
  switch (UpperLetter(letter)) {
    case 'A':
      return 0x0000;
    case 'B':
      return 0x0001;
    default:
      return 0x0180;
  }
}

int ScanBootAreas(ScanSession& session, SystemAccess& access, std::string_view path,
                  BootTarget target) {
  return ScanBootAreasRepeating(session, access, path, target, kRepeatsAfterRemoval);
}

int RemoveFloppyBootVirus(SystemAccess& access, const DatabaseImage& signatures, UserInterface& ui,
                          char letter, uint32_t virus_id) {
  if (letter != 'A' && letter != 'B') return 0;
  const uint8_t drive = static_cast<uint8_t>(letter - 'A');
  SectorBuffer infected{};
  if (!ReadSector(access, ui, kBootCylinderSector, drive, infected)) return 0;
  const std::optional<RemovalRecord> record = FindRemovalRecord(signatures, virus_id);
  if (!record || record->cylinder_sector_at == kNotRemovable) return 0;
  // Offsets come from the database; one that would reach past the sector names no place.
  if (!Fits(infected, record->cylinder_sector_at, 2) || !Fits(infected, record->head_drive_at, 2)) {
    return 0;
  }

  // The virus noted where it put the original; the record's increment steps from there to
  // the sector that holds it, which may lie on the next head or the next cylinder.
  uint16_t cylinder_sector = ReadU16(infected, record->cylinder_sector_at);
  uint8_t head = static_cast<uint8_t>(ReadU16(infected, record->head_drive_at) >> 8);
  cylinder_sector = static_cast<uint16_t>(cylinder_sector + record->increment);
  if ((cylinder_sector & 0xFF) > infected[kSectorsPerTrackField]) {
    cylinder_sector =
        static_cast<uint16_t>(cylinder_sector - ReadU16(infected, kSectorsPerTrackField));
    ++head;
    if (head == infected[kHeadCountField]) {
      head = 0;
      cylinder_sector = static_cast<uint16_t>(cylinder_sector + 0x100);
    }
  }

  SectorBuffer saved{};
  if (!ReadSector(access, ui, cylinder_sector, static_cast<uint16_t>(head << 8 | drive), saved)) {
    return 0;
  }
  if (ReadU16(saved, kBootSignatureField) != kBootSignature) return 0;
  if (WriteBootSector(access, ui, kBootCylinderSector, drive, saved) == 0) {
    ui.ShowError(ui.Text(kWriteProtectedText));
    return 0;
  }
  return 1;
}

JudgedBootArea JudgeBootArea(ScanSession& session, SectorView sector, bool mbr,
                             std::string_view target) {
  const BootArea area = mbr ? BootArea::kMasterBootRecord : BootArea::kBootSector;
  const AreaVerdict verdict = JudgeSector(session, sector, area);
  return JudgedBootArea{Reported(target, area, verdict),
                        AreaText(session.language(), area, verdict)};
}

BootAreaCheck MakeBootAreaCheck(SystemAccess& access, BootTargetLookup lookup) {
  return [&access, lookup = std::move(lookup)](ScanSession& session, const ScanRoot& root) {
    std::optional<BootTarget> target = lookup ? lookup(root) : std::nullopt;
    if (!target) {
      session.AddTextLine(root.drive_icon, "[" + root.display_path + "]");
      session.AddTextLine(ResultIcon::kBlank, " ");
      return;
    }
    ScanBootAreas(session, access, root.display_path, *target);
  };
}

}  // namespace quarn
