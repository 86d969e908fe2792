#include "engine/database_loader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/test_support/recording_interface.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/memory_settings_store.h"

namespace quarn {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

std::vector<uint8_t> SmallDatabaseFile(uint8_t fill, size_t image_bytes) {
  std::vector<uint8_t> image(image_bytes, fill);
  return EncodeDatabaseFile(image);
}

class LoadDatabasesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DatabaseContent content;
    content.names[1] = "Alpha";
    files_.AddFile("/data/QUARN.DAT", EncodeDatabaseFile(*BuildSignatureImage(content)));
    files_.AddFile("/data/NAMEVIR.DAT", EncodeDatabaseFile(*BuildNameImage(content)));
    settings_.SetText(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\r\n"
        "\"DAT\"=\"/data\"\r\n");
  }

  int Load(Language language = Language::kItalian) {
    LoadRequest request;
    request.settings = &settings_;
    request.files = &files_;
    request.ui = &ui_;
    request.language = language;
    return LoadDatabases(request, &state_);
  }

  void SetOptions(const std::string& hex) {
    settings_.SetText(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\r\n"
        "\"DAT\"=\"/data\"\r\n\"Opzioni\"=" +
        hex + "\r\n");
  }

  std::optional<uint32_t> StoredOptions() {
    auto document = settings_.Load();
    return document ? document->ReadNumber(kProgramKey, "Opzioni") : std::nullopt;
  }

  MemoryFileSystem files_;
  MemorySettingsStore settings_;
  testing::RecordingInterface ui_;
  EngineState state_;
};

TEST_F(LoadDatabasesTest, MissingOptionsAreWrittenAsTheDefault) {
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(StoredOptions(), 0x00010000u);
  EXPECT_EQ(state_.options, ScanOptions::Unpack(0x00010000));
  // Part 0, then part 2, then part 1: ids 10, 13 and 14.
  EXPECT_THAT(ui_.options_statuses,
              ElementsAre(Pair(0, "FILES: EXE COM SYS OV? DO?   "), Pair(2, "EURI: ON"),
                          Pair(1, "AZIONE: SOLO RICERCA")));
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(LoadDatabasesTest, StoredOptionsAreSplitAndShownInTheChosenLanguage) {
  // The program's own form, and the one a person types into the store by hand.
  for (const char* stored : {"hex:01,06,01,01", "dword:01010601"}) {
    SetOptions(stored);
    const std::string before = *settings_.Text();
    ui_ = {};
    ASSERT_EQ(Load(Language::kEnglish), 1) << stored;
    EXPECT_EQ(state_.options, ScanOptions::Unpack(0x01010601)) << stored;
    EXPECT_THAT(ui_.options_statuses,
                ElementsAre(Pair(0, "FILES: ALL                 "), Pair(2, "EURI: ON"),
                            Pair(1, "ACTION: RENAME INFECTED FILES ASK")))
        << stored;
    EXPECT_EQ(*settings_.Text(), before) << stored << " is not rewritten";
  }
}

TEST_F(LoadDatabasesTest, TheUnsetMarkerAndOddLengthsGiveTheDefaultInTheStoredType) {
  const struct {
    const char* stored;
    const char* written;
  } cases[] = {
      {"hex:ff,ff,ff,00", "hex:00,00,01,00"},
      {"hex:01,06", "hex:00,00,01,00"},
      {"dword:00ffffff", "dword:00010000"},
  };
  for (const auto& c : cases) {
    SetOptions(c.stored);
    ASSERT_EQ(Load(), 1) << c.stored;
    EXPECT_NE(settings_.Text()->find(std::string("\"Opzioni\"=") + c.written + "\r\n"),
              std::string::npos)
        << *settings_.Text();
    EXPECT_EQ(state_.options, ScanOptions::Unpack(kDefaultScanOptions)) << c.stored;
  }
}

TEST_F(LoadDatabasesTest, AStoreThatCannotBeParsedKeepsItsTextAndDefaultsApply) {
  settings_.SetText("REGEDIT4\r\n\"Opzioni\"=hex:01\r\n");  // a value before any key
  std::string before = *settings_.Text();
  EXPECT_EQ(Load(), 0);  // no DAT: the files are looked for in the current folder
  EXPECT_EQ(*settings_.Text(), before);
  EXPECT_EQ(state_.options, ScanOptions::Unpack(kDefaultScanOptions));
}

TEST_F(LoadDatabasesTest, MissingFilesAreNamed) {
  files_.Remove("/data/NAMEVIR.DAT");
  EXPECT_EQ(Load(), 0);
  EXPECT_THAT(ui_.messages, ElementsAre("Errore: NAMEVIR.DAT non trovato"));
  ui_.messages.clear();
  files_.Remove("/data/QUARN.DAT");
  EXPECT_EQ(Load(), 0);
  EXPECT_THAT(ui_.messages, ElementsAre("Errore: QUARN.DAT non trovato"));
}

TEST_F(LoadDatabasesTest, FilesOf512BytesOrLessHoldNoImage) {
  files_.AddFile("/data/QUARN.DAT", std::vector<uint8_t>(512, 0));
  EXPECT_EQ(Load(), 0);
  EXPECT_THAT(ui_.messages, ElementsAre("Errore: QUARN.DAT non valido"));
  ui_.messages.clear();
  files_.AddFile("/data/QUARN.DAT", SmallDatabaseFile(1, 1));
  files_.AddFile("/data/NAMEVIR.DAT", std::vector<uint8_t>());
  EXPECT_EQ(Load(), 0);
  EXPECT_THAT(ui_.messages, ElementsAre("Errore: NAMEVIR.DAT non valido"));
}

TEST_F(LoadDatabasesTest, AReadThatFailsPartWayFailsSilently) {
  files_.AddFile("/data/QUARN.DAT", SmallDatabaseFile(1, 100000));
  files_.SetShortReads(4096);
  files_.FailCall(FileOperation::kRead, 3);
  EXPECT_EQ(Load(), 0);
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(LoadDatabasesTest, ShortReadsStillLoadTheWholeImage) {
  files_.AddFile("/data/QUARN.DAT", SmallDatabaseFile(0x5A, 10000));
  files_.SetShortReads(7);
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(state_.signatures.size(), 10000u);
  EXPECT_EQ(state_.signatures.data()[0], 0x5A);
  EXPECT_EQ(state_.signatures.data()[9999], 0x5A);
}

TEST_F(LoadDatabasesTest, AWrongDataDirectoryFallsBackToTheCurrentFolder) {
  settings_.SetText(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\r\n"
      "\"DAT\"=\"/nowhere\"\r\n");
  EXPECT_EQ(Load(), 0);
  EXPECT_THAT(ui_.messages, ElementsAre("Errore: QUARN.DAT non trovato"));
  files_.AddFile("/QUARN.DAT", *files_.ReadFileBytes("/data/QUARN.DAT"));
  files_.AddFile("/NAMEVIR.DAT", *files_.ReadFileBytes("/data/NAMEVIR.DAT"));
  EXPECT_EQ(Load(), 1);
}

TEST_F(LoadDatabasesTest, ALogThatCannotBeCreatedDoesNotStopTheLoad) {
  files_.SetReadOnly("/data", true);
  ASSERT_EQ(Load(), 1);
  EXPECT_FALSE(state_.log.is_open());
  state_.log.AppendLine("nowhere");  // swallowed
  EXPECT_FALSE(files_.Exists("/data/QUARNEXP.LOG"));
}

TEST_F(LoadDatabasesTest, OverridesReplaceTheDataDirectoryAndTheLog) {
  files_.AddFolder("/elsewhere");
  files_.AddFile("/other/QUARN.DAT", *files_.ReadFileBytes("/data/QUARN.DAT"));
  files_.AddFile("/other/NAMEVIR.DAT", *files_.ReadFileBytes("/data/NAMEVIR.DAT"));
  LoadRequest request;
  request.settings = &settings_;
  request.files = &files_;
  request.ui = &ui_;
  request.data_directory_override = "/other";
  request.log_path_override = "/elsewhere/scan.log";
  ASSERT_EQ(LoadDatabases(request, &state_), 1);
  EXPECT_EQ(state_.data_directory, "/other");
  EXPECT_TRUE(files_.Exists("/elsewhere/scan.log"));
  EXPECT_FALSE(files_.Exists("/other/QUARNEXP.LOG"));
  EXPECT_FALSE(files_.Exists("/data/QUARNEXP.LOG"));

  state_ = EngineState();
  request.log_path_override = "";  // no log at all
  ASSERT_EQ(LoadDatabases(request, &state_), 1);
  EXPECT_FALSE(state_.log.is_open());
}

}  // namespace
}  // namespace quarn
