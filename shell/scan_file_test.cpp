// SPDX-License-Identifier: Apache-2.0
#include "shell/scan_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "engine/test_support/compound_file_writer.h"
#include "engine/test_support/recording_interface.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/test_bytes.h"

namespace quarn {
namespace {

using ::testing::ElementsAre;

constexpr uint16_t kEicar = 1;
constexpr uint16_t kPrepended = 7;
constexpr uint16_t kMacro = 9;

std::vector<uint8_t> EntryRecord(const std::string& code, uint16_t id, uint8_t confirm_offset,
                                 const std::string& confirm) {
  std::vector<uint8_t> record(16, 0);
  std::copy(code.begin(), code.end(), record.begin());
  WriteU16(&record[8], id);
  record[10] = confirm_offset;
  std::copy(confirm.begin(), confirm.end(), record.begin() + 11);
  return record;
}

// A 16-byte block placed in front of a host: "PREPENDQ" at 0 and "PQ16" at 8.
std::vector<uint8_t> Prefix() {
  std::string block = "PREPENDQPQ16....";
  return {block.begin(), block.end()};
}

class ScanFileTest : public ::testing::Test {
 protected:
  ScanFileTest() {
    DatabaseContent content;
    content.sections[kComEntrySection].records = {EntryRecord("X5O!P%@A", kEicar, 64, "H+H*"),
                                                  EntryRecord("PREPENDQ", kPrepended, 8, "PQ16")};
    // The macro check is the last step of its chain, so its partial match is a verdict.
    std::vector<uint8_t> macro(18, 0);
    WriteU16(&macro[0], kMacro);
    std::copy_n("AUTOOPEN", 8, macro.begin() + 4);
    WriteU16(&macro[12], 8);
    std::copy_n("KILL", 4, macro.begin() + 14);
    content.sections[kMacroSection].records = {macro};
    content.sections[kPrependCleanSection].records = {{kPrepended, 0, 16, 0}};
    content.names = {{kEicar, "EICAR-Test-File"}, {kPrepended, "Prefix.16"}, {kMacro, "Macro.K"}};
    signatures_ = DatabaseImage(*BuildSignatureImage(content));
    names_ = DatabaseImage(*BuildNameImage(content));
    files_.AddFolder("/d");
  }

  void Scan(const std::string& name, ScanOptions options, Language language = Language::kItalian) {
    session_ = std::make_unique<ScanSession>(signatures_, names_, log_, ui_, language, options);
    auto folder = files_.OpenFolder("/d");
    ScanFile(*session_, **folder, name, "C:\\" + name, "/d/" + name);
  }

  static ScanOptions Action(uint32_t action) {
    ScanOptions options;
    options.scan_action = action;
    return options;
  }

  DatabaseImage signatures_;
  DatabaseImage names_;
  ScanLog log_;
  MemoryFileSystem files_;
  testing::RecordingInterface ui_;
  std::unique_ptr<ScanSession> session_;
};

TEST_F(ScanFileTest, AFailedDeleteIsAMessageAndNoLine) {
  files_.AddFile("/d/A.COM", testing::kEicarText);
  files_.FailCall(FileOperation::kDelete, 1);
  Scan("A.COM", Action(kActionDeleteAuto));
  EXPECT_THAT(ui_.messages, ElementsAre("Errore: Impossibile CANCELLARE il file C:\\A.COM"));
  EXPECT_EQ(ui_.lines.size(), 1u);
  ASSERT_EQ(ui_.unshown.size(), 1u) << "the attempt is still reported to the front end";
  EXPECT_EQ(ui_.unshown[0].action, ActionKind::kDelete);
  EXPECT_FALSE(ui_.unshown[0].ok);
  EXPECT_EQ(session_->counters().deleted, 0u);
}

TEST_F(ScanFileTest, TwoInfectionsAreCleanedOneAfterTheOther) {
  std::vector<uint8_t> file = Prefix();
  std::vector<uint8_t> inner = Prefix();
  file.insert(file.end(), inner.begin(), inner.end());
  file.insert(file.end(), {'h', 'o', 's', 't'});
  files_.AddFile("/d/TWICE.COM", file);
  files_.SetReadOnly("/d/TWICE.COM", true);
  Scan("TWICE.COM", Action(kActionCleanAuto));
  EXPECT_THAT(ui_.Texts(),
              ElementsAre("C:\\TWICE.COM Infetto da Prefix.16", " * * *  RIMOSSO  * * *",
                          "C:\\TWICE.COM Infetto da Prefix.16", " * * *  RIMOSSO  * * *"));
  EXPECT_EQ(files_.ReadFileText("/d/TWICE.COM"), "host");
  EXPECT_EQ(session_->counters().infected, 2u);
  EXPECT_EQ(session_->counters().cleaned, 2u);
  auto folder = files_.OpenFolder("/d");
  EXPECT_TRUE((*(*folder)->OpenFile("TWICE.COM", OpenMode::kRead))->GetAttributes()->read_only)
      << "a read-only file stays read-only";
}

// Copies left behind are looked for once per folder and scan, not once per file cleaned.
TEST_F(ScanFileTest, CleaningManyFilesOfAFolderListsItOnce) {
  constexpr int kCleaned = 20;
  std::vector<uint8_t> infected = Prefix();
  infected.insert(infected.end(), {'h', 'o', 's', 't'});
  for (int i = 0; i < kCleaned; ++i) files_.AddFile("/d/P" + std::to_string(i) + ".COM", infected);
  session_ = std::make_unique<ScanSession>(signatures_, names_, log_, ui_, Language::kItalian,
                                           Action(kActionCleanAuto));
  auto folder = files_.OpenFolder("/d");
  const int listings = files_.CallCount(FileOperation::kList);
  for (int i = 0; i < kCleaned; ++i) {
    const std::string name = "P" + std::to_string(i) + ".COM";
    ScanFile(*session_, **folder, name, "C:\\" + name, "/d/" + name);
  }
  EXPECT_EQ(session_->counters().cleaned, static_cast<uint32_t>(kCleaned));
  EXPECT_EQ(files_.CallCount(FileOperation::kList) - listings, 1);
}

TEST_F(ScanFileTest, APossibleVariantIsNeverCleanedButMayBeDeleted) {
  std::string text = "AUTOOPENkeep this one, it only looks alike.........................";
  testing::CompoundFileWriter writer;
  writer.AddStream("WordDocument", testing::WordDocumentStream()
                                       .AddMacro(std::vector<uint8_t>(text.begin(), text.end()), 0)
                                       .Build());
  files_.AddFile("/d/LETTER.DOC", writer.Build());
  ui_.answers = {true};
  Scan("LETTER.DOC", Action(kActionCleanAsk));
  EXPECT_THAT(ui_.Texts(), ElementsAre("C:\\LETTER.DOC Possibile variante da Macro.K"));
  EXPECT_TRUE(ui_.lines[0].variant);
  EXPECT_TRUE(ui_.questions.empty()) << "no question for a variant";
  Scan("LETTER.DOC", Action(kActionDeleteAuto));
  EXPECT_FALSE(files_.Exists("/d/LETTER.DOC"));
}

TEST_F(ScanFileTest, AFileWithoutACleaningRecordAsksSupport) {
  files_.AddFile("/d/EICAR.COM", testing::kEicarText);
  ui_.answers = {true};
  Scan("EICAR.COM", Action(kActionCleanAsk));
  EXPECT_THAT(ui_.questions, ElementsAre("Rimozione: Rimuovere dal file C:\\EICAR.COM il virus "
                                         "EICAR-Test-File"));
  EXPECT_EQ(ui_.Texts().back(), " Contattare il Supporto Tecnico Orvane");
  EXPECT_FALSE(ui_.lines.back().ok);
  EXPECT_EQ(session_->counters().cleaned, 0u);
}

TEST_F(ScanFileTest, HeuristicFindingIsCountedAndNeverActedOn) {
  // Find first, find next, open read-write, read, move pointer, write, close: a mask the
  // set for files without an "MZ" header holds.
  const std::vector<uint8_t> code = {0xB4, 0x4E, 0xB4, 0x4F, 0xB8, 0x02, 0x3D, 0xB4,
                                     0x3F, 0xB4, 0x42, 0xB4, 0x40, 0xB4, 0x3E, 0xC3};
  files_.AddFile("/d/NEW.COM", code);
  Scan("NEW.COM", Action(kActionDeleteAuto));
  EXPECT_THAT(ui_.Texts(),
              ElementsAre("C:\\NEW.COM Possibile infezione da virus di nuova generazione"));
  EXPECT_EQ(ui_.lines[0].kind, ReportKind::kSuspicious);
  EXPECT_TRUE(files_.Exists("/d/NEW.COM"));
  EXPECT_EQ(session_->counters().suspicious, 1u);
  EXPECT_EQ(session_->counters().infected, 0u);

  ui_.lines.clear();
  ScanOptions off = Action(kActionReportOnly);
  off.heuristics_enabled = 0;
  Scan("NEW.COM", off);
  EXPECT_TRUE(ui_.lines.empty());
}

TEST_F(ScanFileTest, AFileThatCannotBeOpenedGivesNoLine) {
  files_.AddFile("/d/GONE.COM", testing::kEicarText);
  files_.FailCall(FileOperation::kOpenFile, 1);
  Scan("GONE.COM", Action(kActionReportOnly));
  EXPECT_TRUE(ui_.lines.empty());
  EXPECT_EQ(session_->counters().infected, 0u);
}

TEST(RenamedName, ChangesTheThirdCharacterFromTheEnd) {
  EXPECT_EQ(RenamedName("EDIT.COM"), "EDIT.VOM");
  EXPECT_EQ(RenamedName("GAME.EXE"), "GAME.VXE");
  EXPECT_EQ(RenamedName("ABC"), "VBC");
  EXPECT_EQ(RenamedName("AB"), std::nullopt);
  EXPECT_EQ(RenamedName("B.VOC"), std::nullopt) << "already renamed";
  // Characters, not bytes: a UTF-8 sequence is replaced whole, and so is a stray byte.
  EXPECT_EQ(RenamedName("A.\xC3\x89XE"), "A.VXE");
  EXPECT_EQ(RenamedName("\xC3\x80\xC3\x89\xC3\x88"), "V\xC3\x89\xC3\x88");
  EXPECT_EQ(RenamedName("x\xF0\x9F\x98\x80"
                        "ab"),
            "xVab");
  EXPECT_EQ(RenamedName("A\xFF"
                        "BC"),
            "AVBC");
  EXPECT_EQ(RenamedName("\xC3\xA9\xC3\xA9"), std::nullopt) << "two characters in four bytes";
}

}  // namespace
}  // namespace quarn
