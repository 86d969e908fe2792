// SPDX-License-Identifier: Apache-2.0
#include "shell/boot_scan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "engine/test_support/recording_interface.h"
#include "platform/byte_reader.h"
#include "platform/test_support/in_memory_system_access.h"

namespace quarn {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint16_t kBootVirus = 5;
constexpr uint16_t kMbrVirus = 6;
constexpr uint16_t kStuckVirus = 7;  // its record points at no place
constexpr uint16_t kUnknownVirus = 8;

const uint8_t kBootMark[8] = {'B', 'O', 'O', 'T', 'V', 'I', 'R', 'S'};
const uint8_t kMbrMark[8] = {'M', 'B', 'R', 'V', 'I', 'R', 'U', 'S'};
const uint8_t kConfirm[4] = {'C', 'O', 'N', 'F'};

std::vector<uint8_t> PatternRecord(const uint8_t* mark, uint16_t id, bool boot) {
  std::vector<uint8_t> record(boot ? kBootPatternRecordSize : kMbrPatternRecordSize, 0);
  std::copy_n(mark, 8, record.begin());
  WriteU16(&record[8], 0x40);
  WriteU16(&record[10], id);
  WriteU16(&record[12], 0x80);
  std::copy_n(kConfirm, 4, record.begin() + 14);
  return record;
}

std::vector<uint8_t> RemovalRecord(uint16_t id, uint16_t cylinder_sector_at, uint16_t head_drive_at,
                                   uint8_t increment) {
  std::vector<uint8_t> record(kBootRemovalRecordSize, 0);
  WriteU16(&record[0], id);
  WriteU16(&record[2], cylinder_sector_at);
  WriteU16(&record[4], head_drive_at);
  record[6] = increment;
  return record;
}

// What the check should report for one area of `target`.
BootVerdict ExpectedBootVerdict(std::string target, std::string area, uint32_t virus_id = 0,
                                std::string name = "", std::optional<bool> removed = {}) {
  BootVerdict verdict;
  verdict.target = std::move(target);
  verdict.area = std::move(area);
  verdict.virus_id = virus_id;
  verdict.virus_name = std::move(name);
  verdict.removed = removed;
  return verdict;
}

// Writes a sector's bytes in place.
struct SectorWriter {
  std::span<uint8_t, kSectorSize> sector;
  SectorWriter& At(size_t offset, std::initializer_list<uint8_t> bytes) {
    for (uint8_t byte : bytes) sector[offset++] = byte;
    return *this;
  }
  SectorWriter& Mark(const uint8_t* mark, bool confirmed) {
    std::copy_n(mark, 8, sector.begin() + 0x40);
    if (confirmed) std::copy_n(kConfirm, 4, sector.begin() + 0x80);
    return *this;
  }
  // A 1.44 MB floppy's geometry, 18 sectors of 2 heads, and the boot signature.
  SectorWriter& FloppyBootSector() { return At(0x18, {18, 0, 2, 0}).At(0x1FE, {0x55, 0xAA}); }
  // Where the virus noted the moved sector: cylinder-sector at 0x30, head-drive at 0x32.
  SectorWriter& SavedAt(uint8_t cylinder, uint8_t sector, uint8_t head) {
    return At(0x30, {sector, cylinder, 0x00, head});
  }
};

class BootScanTest : public ::testing::Test {
 protected:
  BootScanTest() {
    DatabaseContent content;
    content.sections[kBootPatternSection].records = {PatternRecord(kBootMark, kBootVirus, true),
                                                     PatternRecord(kMbrMark, kStuckVirus, true)};
    content.sections[kMbrPatternSection].records = {PatternRecord(kMbrMark, kMbrVirus, false)};
    content.sections[kBootRemovalSection].records = {RemovalRecord(kBootVirus, 0x30, 0x32, 3),
                                                     RemovalRecord(kStuckVirus, 0xFFFF, 0, 0)};
    content.names = {{kBootVirus, "Boot.Test"},
                     {kMbrVirus, "Mbr.Test"},
                     {kStuckVirus, "Stuck.Test"},
                     {kUnknownVirus, "Unknown.Test"}};
    signatures_ = DatabaseImage(*BuildSignatureImage(content));
    names_ = DatabaseImage(*BuildNameImage(content));
  }

  SectorWriter Sector(uint8_t drive, uint8_t cylinder, uint8_t head, uint8_t sector) {
    return SectorWriter{disks_.SectorAt(drive, cylinder, head, sector)};
  }

  std::vector<std::string> Scan(std::string path, BootTarget target,
                                uint32_t action = kActionReportOnly, uint32_t heuristics = 1,
                                Language language = Language::kItalian) {
    ScanOptions options;
    options.scan_action = action;
    options.heuristics_enabled = heuristics;
    session_ = std::make_unique<ScanSession>(signatures_, names_, log_, ui_, language, options);
    result_ = ScanBootAreas(*session_, disks_, path, target);
    return ui_.Texts();
  }

  std::vector<ResultIcon> Icons() const {
    std::vector<ResultIcon> icons;
    for (const ResultLine& line : ui_.lines) icons.push_back(line.icon);
    return icons;
  }

  static constexpr BootTarget kFixedC{'C', DriveType::kFixed};
  static constexpr BootTarget kFloppyA{'A', DriveType::kRemovable};

  DatabaseImage signatures_;
  DatabaseImage names_;
  ScanLog log_;
  testing::RecordingInterface ui_;
  InMemorySystemAccess disks_;
  std::unique_ptr<ScanSession> session_;
  int result_ = -1;
};

TEST_F(BootScanTest, OtherDrivesAndDisksWithoutSectorsShowHeaderAndBlankOnly) {
  struct Case {
    BootTarget target;
    ResultIcon icon;
  } cases[] = {{{'E', DriveType::kCdRom}, ResultIcon::kCdRom},
               {{'F', DriveType::kRemote}, ResultIcon::kNetwork},
               {{'G', DriveType::kRamDisk}, ResultIcon::kNetwork},
               {{'C', DriveType::kFixed}, ResultIcon::kHardDisk},  // no hard disk mapped
               {{'B', DriveType::kRemovable}, ResultIcon::kFloppy}};
  disks_.AddDrive(0);
  for (const Case& c : cases) {
    ui_ = {};
    const std::string path = std::string(1, c.target.letter) + ":";
    EXPECT_THAT(Scan(path, c.target), ElementsAre("[" + path + "]", " ")) << path;
    EXPECT_EQ(ui_.lines[0].icon, c.icon) << path;
    EXPECT_THAT(ui_.messages, IsEmpty()) << path;
  }
  EXPECT_THAT(disks_.calls, IsEmpty());

  ui_ = {};
  EXPECT_THAT(Scan("", kFixedC), IsEmpty());
  EXPECT_EQ(result_, 0);
}

TEST_F(BootScanTest, EveryFixedDriveReadsTheFirstHardDisk) {
  disks_.AddDrive(0x80);
  Sector(0x80, 0, 0, 1).Mark(kMbrMark, true);
  Sector(0x80, 0, 1, 1).Mark(kBootMark, true);
  EXPECT_THAT(Scan("D:\\DOS", {'D', DriveType::kFixed}),
              ElementsAre("[D:\\DOS]", "MASTER BOOT RECORD:  Infetto da Mbr.Test",
                          "BOOT SECTOR:  Infetto da Boot.Test", " "));
  EXPECT_THAT(Icons(), ElementsAre(ResultIcon::kHardDisk, ResultIcon::kVirus, ResultIcon::kVirus,
                                   ResultIcon::kBlank));
  EXPECT_THAT(disks_.calls, ElementsAre("read 0001 0080", "read 0001 0180"));
  EXPECT_THAT(ui_.boot_verdicts,
              ElementsAre(ExpectedBootVerdict("D:\\DOS", "mbr", kMbrVirus, "Mbr.Test"),
                          ExpectedBootVerdict("D:\\DOS", "boot", kBootVirus, "Boot.Test")));
}

TEST_F(BootScanTest, APartialMatchEndsAsOkOrAsTheHeuristicVerdict) {
  disks_.AddDrive(0);
  SectorWriter boot = Sector(0, 0, 0, 1).Mark(kBootMark, false);
  EXPECT_THAT(Scan("A:", kFloppyA), ElementsAre("[A:]", "BOOT SECTOR: OK", " "));

  // The loader lowers the DOS memory size.
  boot.At(0, {0x83, 0x2E, 0x13, 0x04, 0x02});
  ui_ = {};
  EXPECT_THAT(
      Scan("A:", kFloppyA, kActionCleanAuto),
      ElementsAre("[A:]", "BOOT SECTOR:  Possibile infezione da virus di nuova generazione", " "));
  ASSERT_EQ(ui_.boot_verdicts.size(), 1u);
  EXPECT_TRUE(ui_.boot_verdicts[0].suspicious);
  EXPECT_EQ(ui_.lines[1].icon, ResultIcon::kVirus);
  ui_ = {};
  EXPECT_THAT(Scan("A:", kFloppyA, kActionReportOnly, 0),
              ElementsAre("[A:]", "BOOT SECTOR: OK", " "));
}

TEST_F(BootScanTest, TheRemovalQuestionNamesTheRoot) {
  disks_.AddDrive(0x80);
  Sector(0x80, 0, 1, 1).Mark(kBootMark, true);
  ui_.answers = {true};
  EXPECT_THAT(Scan("C:", kFixedC, kActionCleanAsk),
              ElementsAre("[C:]", "MASTER BOOT RECORD: OK", "BOOT SECTOR:  Infetto da Boot.Test",
                          " Contattare il Supporto Tecnico Orvane", " "));
  EXPECT_THAT(ui_.questions, ElementsAre("Rimozione: Rimuovere dal floppy disk C: il virus "
                                         "Boot.Test"));
  EXPECT_THAT(ui_.boot_verdicts,
              ElementsAre(ExpectedBootVerdict("C:", "mbr"),
                          ExpectedBootVerdict("C:", "boot", kBootVirus, "Boot.Test", false)));
  ui_ = {};
  ui_.answers = {false};
  EXPECT_THAT(Scan("C:\\DOS\\UTIL", kFixedC, kActionCleanAsk),
              ElementsAre("[C:\\DOS\\UTIL]", "MASTER BOOT RECORD: OK",
                          "BOOT SECTOR:  Infetto da Boot.Test", " "));
  EXPECT_THAT(ui_.questions, ElementsAre("Rimozione: Rimuovere dal floppy disk C:\\ il virus "
                                         "Boot.Test"));
  EXPECT_THAT(ui_.boot_verdicts,
              ElementsAre(ExpectedBootVerdict("C:\\DOS\\UTIL", "mbr"),
                          ExpectedBootVerdict("C:\\DOS\\UTIL", "boot", kBootVirus, "Boot.Test")))
      << "declined: no removal was tried";
}

TEST_F(BootScanTest, OnlyCleaningActionsRemoveAndOnlyFromBootSectors) {
  disks_.AddDrive(0x80);
  Sector(0x80, 0, 0, 1).Mark(kMbrMark, true);
  for (uint32_t action : {kActionReportOnly, kActionDeleteAuto, kActionRenameAsk}) {
    disks_.AddDrive(0);
    Sector(0, 0, 0, 1).Mark(kBootMark, true);
    ui_ = {};
    EXPECT_THAT(Scan("A:", kFloppyA, action),
                ElementsAre("[A:]", "BOOT SECTOR:  Infetto da Boot.Test", " "));
  }
  ui_ = {};
  EXPECT_THAT(
      Scan("C:", kFixedC, kActionCleanAuto),
      ElementsAre("[C:]", "MASTER BOOT RECORD:  Infetto da Mbr.Test", "BOOT SECTOR: OK", " "));
  EXPECT_THAT(ui_.questions, IsEmpty());
}

TEST_F(BootScanTest, RemovalFindsTheMovedSectorAcrossTrackAndHead) {
  struct Case {
    const char* what;
    uint8_t saved_cylinder, saved_sector, saved_head;  // as the virus noted it
    uint8_t cylinder, head, sector;                    // the sector 3 further on
  } cases[] = {
      {"same track", 39, 14, 1, 39, 1, 17},
      {"last sector of the track", 39, 15, 0, 39, 0, 18},
      {"next head", 39, 17, 0, 39, 1, 2},
      {"next head and cylinder", 39, 17, 1, 40, 0, 2},
  };
  for (const Case& c : cases) {
    disks_.AddDrive(0);
    SectorWriter original = Sector(0, c.cylinder, c.head, c.sector).FloppyBootSector();
    original.At(0, {0xEB, 0x3C, 0x90, 'M', 'S', 'D', 'O', 'S'});
    Sector(0, 0, 0, 1)
        .FloppyBootSector()
        .Mark(kBootMark, true)
        .SavedAt(c.saved_cylinder, c.saved_sector, c.saved_head);
    ui_ = {};
    EXPECT_THAT(Scan("A:", kFloppyA, kActionCleanAuto),
                ElementsAre("[A:]", "BOOT SECTOR:  Infetto da Boot.Test", " * * *  RIMOSSO  * * *",
                            "[A:]", "BOOT SECTOR: OK", " ", " "))
        << c.what;
    EXPECT_TRUE(std::equal(original.sector.begin(), original.sector.end(),
                           disks_.SectorAt(0, 0, 0, 1).begin()))
        << c.what;
    EXPECT_THAT(ui_.boot_verdicts,
                ElementsAre(ExpectedBootVerdict("A:", "boot", kBootVirus, "Boot.Test", true),
                            ExpectedBootVerdict("A:", "boot")))
        << c.what;
  }
}

TEST_F(BootScanTest, ARemovalThatSucceedsAgainIsNotRepeatedAgain) {
  disks_.AddDrive(1);
  // The sector the virus points at is infected as well, and points at itself.
  Sector(1, 0, 0, 1).FloppyBootSector().Mark(kBootMark, true).SavedAt(0, 14, 0);
  Sector(1, 0, 0, 17).FloppyBootSector().Mark(kBootMark, true).SavedAt(0, 14, 0);
  EXPECT_THAT(
      Scan("B:", {'B', DriveType::kRemovable}, kActionCleanAuto),
      ElementsAre("[B:]", "BOOT SECTOR:  Infetto da Boot.Test", " * * *  RIMOSSO  * * *", "[B:]",
                  "BOOT SECTOR:  Infetto da Boot.Test", " * * *  RIMOSSO  * * *", " ", " "));
  EXPECT_THAT(disks_.calls,
              ElementsAre("read 0001 0001", "read 0001 0001", "read 0011 0001", "write 0001 0001",
                          "read 0001 0001", "read 0001 0001", "read 0011 0001", "write 0001 0001"));
  const BootVerdict removed = ExpectedBootVerdict("B:", "boot", kBootVirus, "Boot.Test", true);
  EXPECT_THAT(ui_.boot_verdicts, ElementsAre(removed, removed));
}

TEST_F(BootScanTest, RemovalThatCannotBeDoneAsksForSupport) {
  struct Case {
    const char* what;
    const uint8_t* mark;
    bool signature;
    std::optional<SectorWriteResult> write_result;
    std::vector<std::string> messages;
  } cases[] = {
      {"write-protected disk",
       kBootMark,
       true,
       SectorWriteResult::kRefused,
       {"Errore: Disco Protetto dalla Scrittura!"}},
      {"disk that cannot be opened for writing",
       kBootMark,
       true,
       SectorWriteResult::kCannotOpen,
       {"Attenzione: Impossibile Scrivere il Boot Sector.",
        "Errore: Disco Protetto dalla Scrittura!"}},
      {"saved sector without the boot signature", kBootMark, false, std::nullopt, {}},
      {"virus that cannot be removed", kMbrMark, true, std::nullopt, {}},
  };
  for (const Case& c : cases) {
    disks_.AddDrive(0);
    if (c.write_result) disks_.ForceWriteResult(0, *c.write_result);
    Sector(0, 0, 0, 1).FloppyBootSector().Mark(c.mark, true).SavedAt(0, 14, 1);
    SectorWriter saved = Sector(0, 0, 1, 17).At(0, {0xEB, 0x3C});
    if (c.signature) saved.FloppyBootSector();
    const auto before = disks_.SectorAt(0, 0, 0, 1);
    ui_ = {};
    const std::vector<std::string> lines = Scan("A:", kFloppyA, kActionCleanAuto);
    ASSERT_EQ(lines.size(), 4u) << c.what;
    EXPECT_EQ(lines[2], " Contattare il Supporto Tecnico Orvane") << c.what;
    ASSERT_EQ(ui_.boot_verdicts.size(), 1u) << c.what;
    EXPECT_EQ(ui_.boot_verdicts[0].removed, std::optional<bool>(false)) << c.what;
    EXPECT_EQ(ui_.messages, c.messages) << c.what;
    EXPECT_EQ(disks_.SectorAt(0, 0, 0, 1), before) << c.what;
  }

  // An id the removal section does not hold, an imported signature's id (which cut to 16
  // bits would name the record of another), and a drive that is no floppy.
  EXPECT_EQ(RemoveFloppyBootVirus(disks_, signatures_, ui_, 'A', kUnknownVirus), 0);
  EXPECT_EQ(RemoveFloppyBootVirus(disks_, signatures_, ui_, 'A', kBootVirus + 0x10000), 0);
  disks_.calls.clear();
  EXPECT_EQ(RemoveFloppyBootVirus(disks_, signatures_, ui_, 'C', kBootVirus), 0);
  EXPECT_THAT(disks_.calls, IsEmpty());
}

}  // namespace
}  // namespace quarn
