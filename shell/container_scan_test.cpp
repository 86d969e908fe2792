#include "shell/container_scan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "containers/test_support/memory_container.h"
#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "engine/test_support/recording_interface.h"
#include "platform/byte_reader.h"
#include "platform/test_support/test_bytes.h"
#include "shell/scan_driver.h"

namespace quarn {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint16_t kImageBootVirus = 9;
constexpr uint16_t kImageMbrVirus = 10;
const std::string kImageBootMark = "BOOTVIRS";
const std::string kImageMbrMark = "MBRVIRUS";
const std::string kFloppyMark = "FLOPPY-IMAGE";
const std::string kDiskMark = "HARD-DISK-IMAGE";
const std::string kNestingMark = "NESTING-IMAGE";
const std::string kWrapperMark = "WRAPPED-DISK";

std::vector<uint8_t> ImagePatternRecord(const std::string& mark, uint16_t id, bool boot) {
  std::vector<uint8_t> record(boot ? kBootPatternRecordSize : kMbrPatternRecordSize, 0);
  std::copy(mark.begin(), mark.end(), record.begin());
  WriteU16(&record[8], 0x40);
  WriteU16(&record[10], id);
  WriteU16(&record[12], 0x80);
  std::copy_n("CONF", 4, record.begin() + 14);
  return record;
}

// A sector the pattern records above find: their mark at 0x40, confirmed at 0x80.
std::vector<uint8_t> InfectedSector(const std::string& mark) {
  std::vector<uint8_t> sector(512, 0);
  std::copy(mark.begin(), mark.end(), sector.begin() + 0x40);
  std::copy_n("CONF", 4, sector.begin() + 0x80);
  return sector;
}

std::vector<PathLayer> Layers(std::initializer_list<std::pair<std::string, std::string>> steps) {
  std::vector<PathLayer> layers;
  for (const auto& [kind, name] : steps) layers.push_back(PathLayer{kind, name});
  return layers;
}

struct RunSettings {
  uint32_t action = kActionReportOnly;
  uint32_t file_filter = 0;
  ContainerLimits limits;
  Language language = Language::kItalian;
};

class ContainerWalkTest : public ::testing::Test {
 protected:
  ContainerWalkTest() {
    DatabaseContent content;
    content.sections[kComEntrySection].records = {testing::EicarEntryRecord()};
    content.sections[kBootPatternSection].records = {
        ImagePatternRecord(kImageBootMark, kImageBootVirus, true)};
    content.sections[kMbrPatternSection].records = {
        ImagePatternRecord(kImageMbrMark, kImageMbrVirus, false)};
    content.names = {{1, "EICAR-Test-File"}, {kImageBootVirus, "Boot"}, {kImageMbrVirus, "Mbr"}};
    signatures_ = DatabaseImage(*BuildSignatureImage(content));
    names_ = DatabaseImage(*BuildNameImage(content));
    host_.AddFolder("/c/DISKS");
    host_.AddFolder("/data");
    log_.Open(**host_.OpenFolder("/data"));

    floppy_->AddFile("/DOS/KEYB.COM", testing::kEicarText);
    floppy_->AddFile("/README.TXT", testing::kEicarText);
    opener_.Add(kFloppyMark, [this] {
      OpenedContainer opened;
      opened.volumes.push_back(
          testing::MemoryContainerVolume(ContainerKind::kFat12, "A:", floppy_, 0, floppy_boot_));
      return opened;
    });
    // Slot 1 is C:, the logical drive in slot 5 D:, slot 2 a hidden FAT partition.
    partition_c_->AddFile("/DOS/FORMAT.COM", testing::kEicarText);
    partition_d_->AddFile("/GAMES/X.COM", testing::kEicarText);
    hidden_->AddFile("/DOS/FORMAT.COM", testing::kEicarText);
    opener_.Add(kDiskMark, [this] {
      OpenedContainer opened;
      opened.kind = ContainerKind::kMbr;
      opened.boot_record = disk_mbr_;
      opened.volumes.push_back(
          testing::MemoryContainerVolume(ContainerKind::kFat16, "C:", partition_c_, 1));
      opened.volumes.push_back(testing::MemoryContainerVolume(
          ContainerKind::kFat32, "D:", partition_d_, 5, partition_d_boot_));
      opened.volumes.push_back(
          testing::MemoryContainerVolume(ContainerKind::kFat16, "", hidden_, 2));
      return opened;
    });
    // A wrapper around a disk whose C: is partition_c_, with a block of its own damaged.
    opener_.Add(kWrapperMark, [this] {
      OpenedContainer opened;
      opened.kind = ContainerKind::kMbr;
      opened.boot_record = disk_mbr_;
      opened.wrapper = {ContainerKind::kVhd, {{"", IncompleteReason::kDamaged}}, nullptr};
      opened.volumes.push_back(
          testing::MemoryContainerVolume(ContainerKind::kFat16, "C:", partition_c_, 1));
      return opened;
    });
    // An image holding a floppy image.
    nesting_->AddFile("/INNER.IMG", kFloppyMark);
    opener_.Add(kNestingMark, [this] {
      OpenedContainer opened;
      opened.volumes.push_back(
          testing::MemoryContainerVolume(ContainerKind::kFat12, "A:", nesting_));
      return opened;
    });
  }

  void Run(std::vector<ScanRoot> roots, RunSettings settings) {
    ScanOptions options;
    options.scan_action = settings.action;
    options.file_filter = settings.file_filter;
    ui_ = testing::RecordingInterface();
    session_ =
        std::make_unique<ScanSession>(signatures_, names_, log_, ui_, settings.language, options);
    session_->set_containers(&opener_, settings.limits);
    RunScan(*session_, host_, roots, {}, 1);
  }
  void Run(RunSettings settings = {}) { Run({DrivesRoot()}, settings); }

  static ScanRoot DrivesRoot() { return ScanRoot{"C:", "/c", ResultIcon::kHardDisk, std::nullopt}; }

  std::vector<const ResultLine*> LinesOf(ReportKind kind) const {
    std::vector<const ResultLine*> found;
    for (const ResultLine& line : ui_.lines) {
      if (line.kind == kind) found.push_back(&line);
    }
    return found;
  }

  DatabaseImage signatures_;
  DatabaseImage names_;
  ScanLog log_;
  MemoryFileSystem host_;
  std::shared_ptr<MemoryFileSystem> floppy_ = std::make_shared<MemoryFileSystem>();
  std::shared_ptr<MemoryFileSystem> partition_c_ = std::make_shared<MemoryFileSystem>();
  std::shared_ptr<MemoryFileSystem> partition_d_ = std::make_shared<MemoryFileSystem>();
  std::shared_ptr<MemoryFileSystem> hidden_ = std::make_shared<MemoryFileSystem>();
  std::shared_ptr<MemoryFileSystem> nesting_ = std::make_shared<MemoryFileSystem>();
  std::vector<uint8_t> floppy_boot_ = std::vector<uint8_t>(512);
  std::vector<uint8_t> disk_mbr_ = std::vector<uint8_t>(512);
  std::vector<uint8_t> partition_d_boot_ = std::vector<uint8_t>(512);
  testing::MarkedContainerOpener opener_;
  testing::RecordingInterface ui_;
  std::unique_ptr<ScanSession> session_;
};

// The names of the contract's own examples, built from images laid out as they say.
TEST_F(ContainerWalkTest, FilesInsideAreNamedAsTheContractShowsThem) {
  host_.AddFile("/c/DISKS/DISK1.IMG", kFloppyMark);
  host_.AddFile("/c/DISKS/HD.IMG", kDiskMark);
  host_.AddFile("/c/DISKS/OUTER.IMG", kNestingMark);
  host_.AddFile("/c/DISKS/WIN98.VHD", kWrapperMark);
  Run();
  std::vector<std::tuple<std::string, std::string, std::vector<PathLayer>>> found;
  for (const ResultLine* line : LinesOf(ReportKind::kDetection)) {
    found.emplace_back(line->path, line->host_path, line->layers);
  }
  EXPECT_THAT(
      found,
      ElementsAre(
          std::tuple{"C:\\DISKS\\DISK1.IMG!A:\\DOS\\KEYB.COM", "/c/DISKS/DISK1.IMG",
                     Layers({{"fat12", "DOS\\KEYB.COM"}})},
          std::tuple{"C:\\DISKS\\HD.IMG!C:\\DOS\\FORMAT.COM", "/c/DISKS/HD.IMG",
                     Layers({{"mbr", "1"}, {"fat16", "DOS\\FORMAT.COM"}})},
          std::tuple{"C:\\DISKS\\HD.IMG!D:\\GAMES\\X.COM", "/c/DISKS/HD.IMG",
                     Layers({{"mbr", "5"}, {"fat32", "GAMES\\X.COM"}})},
          std::tuple{"C:\\DISKS\\HD.IMG!P2:\\DOS\\FORMAT.COM", "/c/DISKS/HD.IMG",
                     Layers({{"mbr", "2"}, {"fat16", "DOS\\FORMAT.COM"}})},
          std::tuple{"C:\\DISKS\\OUTER.IMG!A:\\INNER.IMG!A:\\DOS\\KEYB.COM", "/c/DISKS/OUTER.IMG",
                     Layers({{"fat12", "INNER.IMG"}, {"fat12", "DOS\\KEYB.COM"}})},
          std::tuple{"C:\\DISKS\\WIN98.VHD!C:\\DOS\\FORMAT.COM", "/c/DISKS/WIN98.VHD",
                     Layers({{"vhd", ""}, {"mbr", "1"}, {"fat16", "DOS\\FORMAT.COM"}})}));
  const std::vector<const ResultLine*> damage = LinesOf(ReportKind::kIncomplete);
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_EQ(damage[0]->path, "C:\\DISKS\\WIN98.VHD");
  EXPECT_EQ(damage[0]->layers, Layers({{"vhd", ""}}));
  EXPECT_EQ(ui_.lines[2].text, "C:\\DISKS\\DISK1.IMG!A:\\DOS\\KEYB.COM Infetto da EICAR-Test-File");
}

// The image's bytes are the EICAR text: a detection of the image itself shows it went to the
// file detectors rather than being opened.
TEST_F(ContainerWalkTest, WhichFilesAreOpenedFollowsTheFilterAndTheKinds) {
  opener_.Add(testing::kEicarText.substr(0, 20), [this] {
    OpenedContainer opened;
    opened.volumes.push_back(testing::MemoryContainerVolume(
        ContainerKind::kFat12, "A:", std::make_shared<MemoryFileSystem>()));
    return opened;
  });
  struct Case {
    std::string name;
    uint32_t file_filter;
    uint32_t kinds;
    bool opened;
    bool image_detected;
  };
  const std::vector<Case> cases = {
      {"DISK1.IMG", 0, kAllContainers, true, false},
      {"disk1.Vfd", 0, kImageContainers, true, false},
      {"SETUP.EX_", 0, kAllContainers, true, false},
      {"ARCHIVE.TGZ", 0, kAllContainers, true, false},
      {"GAME.imz", 0, kAllContainers, true, false},
      {"HD.Qcow2", 0, kAllContainers, true, false},
      {"PLAIN.DAT", 0, kAllContainers, false, false},
      {"IMG", 0, kAllContainers, false, false},
      {"PLAIN.DAT", 1, kAllContainers, true, false},
      {"DISK1.IMG", 1, kNoContainers, false, true},
      {"DISK1.IMG", 1, kArchiveContainers, true, true},
      // A program's name is looked at for a carried archive alone: an image it holds is not.
      {"DISK1.COM", 0, kAllContainers, true, true},
  };
  for (const Case& test : cases) {
    host_.Remove("/c/DISKS");
    host_.AddFile("/c/DISKS/" + test.name, testing::kEicarText);
    const int before = opener_.opened();
    RunSettings settings;
    settings.file_filter = test.file_filter;
    settings.limits.kinds = test.kinds;
    Run(settings);
    EXPECT_EQ(opener_.opened() > before, test.opened) << test.name << " " << test.kinds;
    EXPECT_EQ(session_->counters().infected, test.image_detected ? 1u : 0u) << test.name;
    EXPECT_EQ(session_->counters().total, 1u) << test.name;
  }
}

// An image inside another cannot change without its container changing around it, nor a disk
// inside a wrapper without the wrapper's own format written.
TEST_F(ContainerWalkTest, ActionsInsideANestedImageOrAWrapperAreRefusedWithoutAQuestion) {
  struct ReadOnlyCase {
    std::string host_file;
    std::string mark;
    std::string path;
    std::vector<PathLayer> layers;
    MemoryFileSystem* inner;
    std::string inner_file;
  };
  const ReadOnlyCase cases[] = {
      {"/c/DISKS/OUTER.IMG", kNestingMark, "C:\\DISKS\\OUTER.IMG!A:\\INNER.IMG!A:\\DOS\\KEYB.COM",
       Layers({{"fat12", "INNER.IMG"}, {"fat12", "DOS\\KEYB.COM"}}), floppy_.get(),
       "/DOS/KEYB.COM"},
      {"/c/DISKS/WIN98.VHD", kWrapperMark, "C:\\DISKS\\WIN98.VHD!C:\\DOS\\FORMAT.COM",
       Layers({{"vhd", ""}, {"mbr", "1"}, {"fat16", "DOS\\FORMAT.COM"}}), partition_c_.get(),
       "/DOS/FORMAT.COM"},
  };
  const std::vector<std::pair<uint32_t, ActionKind>> actions = {
      {kActionCleanAuto, ActionKind::kClean},   {kActionCleanAsk, ActionKind::kClean},
      {kActionDeleteAuto, ActionKind::kDelete}, {kActionDeleteAsk, ActionKind::kDelete},
      {kActionRenameAuto, ActionKind::kRename}, {kActionRenameAsk, ActionKind::kRename}};
  for (const ReadOnlyCase& row : cases) {
    host_.AddFile(row.host_file, row.mark);
    for (const auto& [action, kind] : actions) {
      RunSettings settings;
      settings.action = action;
      ui_.answers = {true, true, true};
      Run(settings);
      const std::vector<const ResultLine*> reports = LinesOf(ReportKind::kAction);
      ASSERT_EQ(reports.size(), 1u) << action;
      EXPECT_EQ(reports[0]->text, "Non modificabile: " + row.path);
      EXPECT_EQ(reports[0]->action, kind);
      EXPECT_FALSE(reports[0]->ok);
      EXPECT_EQ(reports[0]->layers, row.layers);
      EXPECT_THAT(ui_.questions, IsEmpty()) << action;
      EXPECT_THAT(ui_.messages, IsEmpty()) << action;
      const ScanCounters& counters = session_->counters();
      EXPECT_EQ(counters.cleaned + counters.deleted + counters.renamed, 0u) << action;
      EXPECT_EQ(row.inner->ReadFileText(row.inner_file), std::string(testing::kEicarText));
      EXPECT_EQ(host_.ReadFileText(row.host_file), row.mark);
    }
    host_.Remove(row.host_file);
  }
}

TEST_F(ContainerWalkTest, DamageIsReportedAndItsLinesAreBoundedPerTopLevelFile) {
  host_.AddFile("/c/DISKS/DISK1.IMG", kFloppyMark);
  host_.AddFile("/c/DISKS/DISK2.IMG", kFloppyMark);
  int opened = 0;
  opener_ = testing::MarkedContainerOpener();
  opener_.Add(kFloppyMark, [this, &opened] {
    OpenedContainer container;
    container.damage = {ContainerDamage{"", IncompleteReason::kUnsupported}};
    ContainerVolume floppy = testing::MemoryContainerVolume(ContainerKind::kFat12, "A:", floppy_);
    auto* files = static_cast<testing::MemoryVolume*>(floppy.files.get());
    const int damaged = ++opened == 1 ? 130 : 1;
    for (int i = 0; i < damaged; ++i) {
      files->QueueDamage(
          ContainerDamage{"DOS\\F" + std::to_string(i) + ".COM", IncompleteReason::kDamaged});
    }
    container.volumes.push_back(std::move(floppy));
    return container;
  });
  Run();
  std::vector<std::string> texts = ui_.Texts();
  auto line = [&](const std::string& text) { return std::count(texts.begin(), texts.end(), text); };
  EXPECT_EQ(line("Non analizzato: C:\\DISKS\\DISK1.IMG (metodo non supportato)"), 1);
  EXPECT_EQ(line("Non analizzato: C:\\DISKS\\DISK1.IMG!A:\\DOS\\F0.COM (danneggiato)"), 1);
  EXPECT_EQ(line("Non analizzato: C:\\DISKS\\DISK1.IMG!A:\\DOS\\F98.COM (danneggiato)"), 1);
  EXPECT_EQ(line("Non analizzato: C:\\DISKS\\DISK1.IMG!A:\\DOS\\F99.COM (danneggiato)"), 0);
  EXPECT_EQ(line("… altri 31 non analizzati"), 1);
  // The second image has lines of its own.
  EXPECT_EQ(line("Non analizzato: C:\\DISKS\\DISK2.IMG!A:\\DOS\\F0.COM (danneggiato)"), 1);
  EXPECT_EQ(session_->counters().incomplete, 131u + 2u);
  ASSERT_EQ(ui_.unshown.size(), 31u);
  EXPECT_EQ(ui_.unshown.back().path, "C:\\DISKS\\DISK1.IMG!A:\\DOS\\F129.COM");
  EXPECT_EQ(ui_.unshown.back().layers, Layers({{"fat12", "DOS\\F129.COM"}}));
  EXPECT_EQ(session_->counters().infected, 2u) << "damage does not end the walk";
}

TEST_F(ContainerWalkTest, BootAreasOfImagesAreJudgedAndNeverRemoved) {
  host_.AddFile("/c/DISKS/DISK1.IMG", kFloppyMark);
  host_.AddFile("/c/DISKS/HD.IMG", kDiskMark);
  floppy_->Remove("/DOS");
  floppy_->Remove("/README.TXT");
  partition_c_->Remove("/DOS");
  partition_d_->Remove("/GAMES");
  hidden_->Remove("/DOS");
  disk_mbr_ = InfectedSector(kImageMbrMark);
  partition_d_boot_ = InfectedSector(kImageBootMark);
  RunSettings settings;
  settings.action = kActionCleanAsk;
  Run(settings);
  EXPECT_THAT(ui_.Texts(),
              ElementsAre("[C:]", " ", "[C:\\DISKS\\HD.IMG] MASTER BOOT RECORD:  Infetto da Mbr",
                          "[C:\\DISKS\\HD.IMG!D:] BOOT SECTOR:  Infetto da Boot", " ",
                          "Files Infetti: 0.", "Files Sospetti: 0.", "Files Analizzati: 0.",
                          "Files Totali: 2.", "Virus Rimossi: 0.", " "));
  auto verdict = [](std::string target, std::string area, uint32_t virus, std::string name,
                    std::vector<PathLayer> layers) {
    BootVerdict expected;
    expected.target = std::move(target);
    expected.area = std::move(area);
    expected.virus_id = virus;
    expected.virus_name = std::move(name);
    expected.host_path = expected.target.substr(0, 15) == "C:\\DISKS\\HD.IMG"
                             ? "/c/DISKS/HD.IMG"
                             : "/c/DISKS/DISK1.IMG";
    expected.layers = std::move(layers);
    return expected;
  };
  EXPECT_THAT(
      ui_.boot_verdicts,
      ElementsAre(
          verdict("C:\\DISKS\\DISK1.IMG", "boot", 0, "", Layers({{"fat12", ""}})),
          verdict("C:\\DISKS\\HD.IMG", "mbr", kImageMbrVirus, "Mbr", Layers({{"mbr", ""}})),
          verdict("C:\\DISKS\\HD.IMG!C:", "boot", 0, "", Layers({{"mbr", "1"}, {"fat16", ""}})),
          verdict("C:\\DISKS\\HD.IMG!D:", "boot", kImageBootVirus, "Boot",
                  Layers({{"mbr", "5"}, {"fat32", ""}})),
          verdict("C:\\DISKS\\HD.IMG!P2:", "boot", 0, "", Layers({{"mbr", "2"}, {"fat16", ""}}))));
  EXPECT_THAT(ui_.questions, IsEmpty());
}

// A floppy-size file with no FAT volume, or an MBR with no partition, is an image by its boot
// record alone: the record is judged, and the file's own bytes go to the file detectors,
// whose verdict must not change what is still an image.
TEST_F(ContainerWalkTest, AnImageByItsBootRecordAloneIsAlsoAFileReadOnly) {
  host_.AddFile("/c/DISKS/BOOT.IMG", testing::kEicarText);
  for (const bool mbr : {false, true}) {
    opener_ = testing::MarkedContainerOpener();
    opener_.Add(testing::kEicarText.substr(0, 20), [mbr] {
      OpenedContainer opened;
      opened.kind = mbr ? ContainerKind::kMbr : ContainerKind::kFat12;
      opened.boot_record = InfectedSector(mbr ? kImageMbrMark : kImageBootMark);
      return opened;
    });
    RunSettings settings;
    settings.action = kActionDeleteAuto;
    settings.file_filter = 1;
    Run(settings);
    EXPECT_THAT(ui_.Texts(),
                ElementsAre("[C:]", " ",
                            mbr ? "[C:\\DISKS\\BOOT.IMG] MASTER BOOT RECORD:  Infetto da Mbr"
                                : "[C:\\DISKS\\BOOT.IMG] BOOT SECTOR:  Infetto da Boot",
                            "C:\\DISKS\\BOOT.IMG Infetto da EICAR-Test-File",
                            "Non modificabile: C:\\DISKS\\BOOT.IMG", " ", "Files Infetti: 1.",
                            "Files Sospetti: 0.", "Files Analizzati: 1.", "Files Totali: 1.",
                            "Files Cancellati: 0.", " "));
    ASSERT_EQ(ui_.boot_verdicts.size(), 1u);
    EXPECT_EQ(ui_.boot_verdicts[0].layers, Layers({{mbr ? "mbr" : "fat12", ""}}));
    EXPECT_EQ(host_.ReadFileText("/c/DISKS/BOOT.IMG"), std::string(testing::kEicarText));
  }
}

}  // namespace
}  // namespace quarn
