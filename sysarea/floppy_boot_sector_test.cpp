#include "sysarea/floppy_boot_sector.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "engine/test_support/recording_interface.h"
#include "platform/test_support/in_memory_system_access.h"
#include "platform/test_support/test_bytes.h"

namespace quarn {
namespace {

using ::testing::ElementsAre;

constexpr uint16_t kBootSectorAddress = 0x0001;

// The sector the fix must write, laid out from literal bytes: the 25-byte parameter block
// of the format and the 4 serial-number bytes are the only parts that vary.
std::vector<uint8_t> ExpectedSector(const std::vector<uint8_t>& parameter_block,
                                    const std::array<uint8_t, 4>& serial) {
  std::vector<uint8_t> sector(512, 0);
  testing::PutBytes(sector, 0x00, {0xEB, 0x3E, 0x90, 'D', 'O', 'S'});
  testing::PutBytes(sector, 0x0B, parameter_block);
  testing::PutBytes(sector, 0x26, {0x29, serial[0], serial[1], serial[2], serial[3]});
  testing::PutBytes(sector, 0x40,
                    {0xFA, 0x33, 0xC0, 0xBC, 0x00, 0x7C, 0x8E, 0xD0, 0xFB, 0x0E, 0x1F,
                     0x0E, 0x07, 0xFC, 0xBE, 0x61, 0x7C, 0xBB, 0x07, 0x00, 0xAC, 0x0A,
                     0xC0, 0x74, 0x06, 0xB4, 0x0E, 0xCD, 0x10, 0xEB, 0xF5, 0xEB, 0xFE});
  const std::string text = "Disco non di sistema. Spegni il computer e fallo ripartire.";
  testing::PutBytes(sector, 0x61, std::vector<uint8_t>(text.begin(), text.end()));
  testing::PutBytes(sector, 0x1FE, {0x55, 0xAA});
  return sector;
}

std::vector<uint8_t> Bytes(std::span<const uint8_t> bytes) {
  return {bytes.begin(), bytes.end()};
}

// A boot sector of some other make: every byte set, the serial number 78 56 34 12.
std::array<uint8_t, kSectorSize> OldSector() {
  std::array<uint8_t, kSectorSize> sector;
  sector.fill(0xE5);
  sector[0x27] = 0x78;
  sector[0x28] = 0x56;
  sector[0x29] = 0x34;
  sector[0x2A] = 0x12;
  return sector;
}

struct FormatCase {
  int id;
  std::vector<uint8_t> parameter_block;  // boot-sector bytes 0x0B–0x23
};

class FloppyFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FloppyFormats, WrittenSectorHoldsTheFormatAndKeepsTheSerialNumber) {
  const FormatCase& c = GetParam();
  for (uint8_t drive : {0, 1}) {
    InMemorySystemAccess disk;
    testing::RecordingInterface ui;
    disk.AddDrive(drive);
    disk.PutSector(kBootSectorAddress, drive, OldSector());

    FloppyBootFixResult result = WriteFloppyBootSector(disk, ui, drive, c.id);
    EXPECT_EQ(result.outcome, FloppyBootFixOutcome::kRewritten);
    EXPECT_TRUE(result.old_sector_read);
    EXPECT_EQ(result.serial_number, 0x12345678u);

    ASSERT_EQ(disk.sector_writes().size(), 1u);
    const auto& write = disk.sector_writes()[0];
    EXPECT_EQ(write.cylinder_sector, kBootSectorAddress);
    EXPECT_EQ(write.head_drive, drive);  // head 0
    EXPECT_EQ(Bytes(write.bytes), ExpectedSector(c.parameter_block, {0x78, 0x56, 0x34, 0x12}))
        << "format " << c.id << ", drive " << int{drive};
  }
}

// Every format: 512 bytes per sector, 1 reserved sector, 2 FATs, 2 heads, no hidden sectors
// and no 32-bit total.
INSTANTIATE_TEST_SUITE_P(
    WriteFloppyBootSector, FloppyFormats,
    ::testing::Values(FormatCase{1033, {0x00, 0x02, 0x01, 0x01, 0x00, 0x02, 0xE0, 0x00, 0x40,
                                        0x0B, 0xF0, 0x09, 0x00, 0x12, 0x00, 0x02, 0x00, 0,
                                        0,    0,    0,    0,    0,    0,    0}},
                      FormatCase{1034, {0x00, 0x02, 0x02, 0x01, 0x00, 0x02, 0x70, 0x00, 0xA0,
                                        0x05, 0xF9, 0x03, 0x00, 0x09, 0x00, 0x02, 0x00, 0,
                                        0,    0,    0,    0,    0,    0,    0}},
                      FormatCase{1035, {0x00, 0x02, 0x02, 0x01, 0x00, 0x02, 0x70, 0x00, 0x80,
                                        0x02, 0xFF, 0x01, 0x00, 0x08, 0x00, 0x02, 0x00, 0,
                                        0,    0,    0,    0,    0,    0,    0}},
                      FormatCase{1036, {0x00, 0x02, 0x02, 0x01, 0x00, 0x02, 0x70, 0x00, 0xD0,
                                        0x02, 0xFD, 0x02, 0x00, 0x09, 0x00, 0x02, 0x00, 0,
                                        0,    0,    0,    0,    0,    0,    0}},
                      FormatCase{1037, {0x00, 0x02, 0x01, 0x01, 0x00, 0x02, 0xE0, 0x00, 0x60,
                                        0x09, 0xF9, 0x07, 0x00, 0x0F, 0x00, 0x02, 0x00, 0,
                                        0,    0,    0,    0,    0,    0,    0}}));

TEST(FloppyBootSector, TemplateIsTheSectorsFirst160Bytes) {
  const FloppyFormatParameters parameters = *FloppyFormatFor(1034);
  const auto head = BootSectorTemplate(parameters, 0xCAFEF00D);
  const auto sector = FloppyBootSector(parameters, 0xCAFEF00D);
  EXPECT_EQ(Bytes(head), Bytes(std::span(sector).first(160)));
  EXPECT_EQ(Bytes(std::span(head).subspan(0x27, 4)),
            (std::vector<uint8_t>{0x0D, 0xF0, 0xFE, 0xCA}));
}

// --- What is written when the old sector cannot be read, and when nothing is written ---

TEST(WriteFloppyBootSector, UnreadableDiskIsRewrittenWithSerialNumberZero) {
  InMemorySystemAccess disk;
  testing::RecordingInterface ui;
  disk.AddDrive(0);
  disk.PutSector(kBootSectorAddress, 0, OldSector());
  disk.FailOpen(0);
  disk.ForceWriteResult(0, SectorWriteResult::kWritten);

  FloppyBootFixResult result = WriteFloppyBootSector(disk, ui, 0, 1033);
  EXPECT_EQ(result.outcome, FloppyBootFixOutcome::kRewritten);
  EXPECT_THAT(ui.messages, ElementsAre("Attenzione: Impossibile leggere il Boot Sector."));
  EXPECT_FALSE(result.old_sector_read);
  EXPECT_EQ(result.serial_number, 0u);
  ASSERT_EQ(disk.sector_writes().size(), 1u);
  EXPECT_EQ(Bytes(disk.sector_writes()[0].bytes),
            Bytes(FloppyBootSector(*FloppyFormatFor(1033), 0)));
}

TEST(WriteFloppyBootSector, WriteResultsNameTheMessage) {
  struct Case {
    SectorWriteResult write_result;
    FloppyBootFixOutcome outcome;
    std::vector<std::string> messages;
  };
  for (const Case& c : {Case{SectorWriteResult::kWritten, FloppyBootFixOutcome::kRewritten, {}},
                        Case{SectorWriteResult::kRefused, FloppyBootFixOutcome::kWriteFailed, {}},
                        Case{SectorWriteResult::kCannotOpen,
                             FloppyBootFixOutcome::kWriteFailed,
                             {"Attenzione: Impossibile Scrivere il Boot Sector."}}}) {
    InMemorySystemAccess disk;
    testing::RecordingInterface ui;
    disk.AddDrive(0);
    disk.PutSector(kBootSectorAddress, 0, OldSector());
    disk.ForceWriteResult(0, c.write_result);
    FloppyBootFixResult result = WriteFloppyBootSector(disk, ui, 0, 1036);
    EXPECT_EQ(result.outcome, c.outcome) << static_cast<int>(c.write_result);
    EXPECT_EQ(ui.messages, c.messages) << static_cast<int>(c.write_result);
    EXPECT_EQ(disk.sector_writes().size(), 1u);
    EXPECT_TRUE(result.old_sector_read);
  }
}

TEST(WriteFloppyBootSector, DriveWithoutSectorsFailsTheWrite) {
  InMemorySystemAccess disk;  // no disk in the drive, no image mapped
  testing::RecordingInterface ui;
  FloppyBootFixResult result = WriteFloppyBootSector(disk, ui, 0, 1033);
  EXPECT_EQ(result.outcome, FloppyBootFixOutcome::kWriteFailed);
  EXPECT_FALSE(result.old_sector_read);
  EXPECT_THAT(ui.messages, ElementsAre("Attenzione: Impossibile leggere il Boot Sector.",
                                       "Attenzione: Impossibile Scrivere il Boot Sector."));
}

TEST(WriteFloppyBootSector, UnknownFormatOrDriveTouchesNothing) {
  struct Case {
    uint8_t drive;
    int format_id;
    FloppyBootFixOutcome outcome;
  };
  for (const Case& c : {Case{0, 1032, FloppyBootFixOutcome::kUnknownFormat},
                        Case{0, 1038, FloppyBootFixOutcome::kUnknownFormat},  // no 2.88 MB
                        Case{1, 0, FloppyBootFixOutcome::kUnknownFormat},
                        Case{0x80, 1033, FloppyBootFixOutcome::kNotAFloppy},
                        Case{2, 1033, FloppyBootFixOutcome::kNotAFloppy}}) {
    InMemorySystemAccess disk;
    testing::RecordingInterface ui;
    disk.AddDrive(c.drive);
    disk.PutSector(kBootSectorAddress, c.drive, OldSector());
    EXPECT_EQ(WriteFloppyBootSector(disk, ui, c.drive, c.format_id).outcome, c.outcome)
        << int{c.drive} << " " << c.format_id;
    EXPECT_EQ(disk.sector_reads(), 0);
    EXPECT_TRUE(disk.sector_writes().empty());
    EXPECT_EQ(Bytes(*disk.Sector(kBootSectorAddress, c.drive)), Bytes(OldSector()));
  }
}

}  // namespace
}  // namespace quarn
