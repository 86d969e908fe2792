#include "clean/cleaning_run.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <fstream>

#include "clean/cleaning_copy.h"
#include "clean/prepended_cleaner.h"
#include "engine/byte_reader.h"
#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "platform/memory_file_system.h"
#include "platform/posix_folder.h"
#include "platform/scratch_folder.h"

namespace quarn {
namespace {

constexpr uint32_t kVirus = 0x10007;  // only the low 16 bits name records
const FileTimes kTimes{std::nullopt, 1'000'000'000'123, 2'000'000'000'456};

class Messages : public UserInterface {
 public:
  void SetOptionsStatus(OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view caption, std::string_view text) override {
    shown.push_back(std::string(caption) + ": " + std::string(text));
  }
  std::vector<std::string> shown;
};

std::vector<uint8_t> Record(int section, uint16_t id, uint16_t value) {
  std::vector<uint8_t> record(ReaderRecordSize(section), 0);
  WriteU16(&record[0], id);
  WriteU16(&record[2], value);
  return record;
}

// Methods standing in for the real ones: they write the record's u16 at 2 over the first
// two bytes, then answer as their name says.
uint32_t StampAndSucceed(const CleaningContext&, const CleanRecord& record, File& copy) {
  return WriteAt(copy, 0, record.bytes.data() + 2, 2) ? 1 : 0;
}
uint32_t StampAndGiveUp(const CleaningContext&, const CleanRecord& record, File& copy) {
  WriteAt(copy, 0, record.bytes.data() + 2, 2);
  return 0;
}
int calls = 0;
uint32_t CountCall(const CleaningContext&, const CleanRecord&, File&) {
  ++calls;
  return 1;
}

class CleaningRunTest : public ::testing::Test {
 protected:
  CleaningRunTest() {
    files_.AddFolder("/d");
    files_.AddFile("/d/GAME.COM", original_);
    files_.SetTimes("/d/GAME.COM", FileTimes{std::nullopt, 5, 6});
    DatabaseContent content;
    content.sections[kExeCleanSection].records = {Record(kExeCleanSection, 3, 0),
                                                  Record(kExeCleanSection, 7, 0x4241)};
    content.sections[kPrependCleanSection].records = {Record(kPrependCleanSection, 7, 4)};
    signatures_ = DatabaseImage(*BuildSignatureImage(content));
    context_.ui = &ui_;
  }

  uint32_t Run(CleaningMethod method, int section = kExeCleanSection,
               const std::string& name = "GAME.COM") {
    auto folder = files_.OpenFolder("/d");
    auto original = (*folder)->OpenFile(name, OpenMode::kRead);
    EXPECT_TRUE(original.ok());
    CleaningTarget target{signatures_, **folder, name, **original, kVirus, kTimes};
    return RunCleaningStep(target, context_, {section, method});
  }

  uint32_t RunPrepended(const std::string& name = "GAME.COM") {
    auto folder = files_.OpenFolder("/d");
    auto original = (*folder)->OpenFile(name, OpenMode::kRead);
    EXPECT_TRUE(original.ok());
    CleaningTarget target{signatures_, **folder, name, **original, kVirus, kTimes};
    auto record = FindCleanRecord(signatures_, kPrependCleanSection, kVirus);
    return CleanPrepended(target, context_, *record);
  }

  std::vector<std::string> Names() {
    auto folder = files_.OpenFolder("/d");
    std::vector<std::string> names;
    auto entries = (*folder)->List();
    for (const FolderEntry& entry : *entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
  }

  void ExpectOriginalUntouched() {
    EXPECT_EQ(files_.ReadFileBytes("/d/GAME.COM"), original_);
    EXPECT_EQ(Names(), std::vector<std::string>{"GAME.COM"}) << "a temporary file was left";
  }

  std::vector<uint8_t> original_ = std::vector<uint8_t>{'V', 'V', 'V', 'V', 'h', 'o', 's', 't'};
  MemoryFileSystem files_;
  DatabaseImage signatures_;
  Messages ui_;
  CleaningContext context_;
};

TEST_F(CleaningRunTest, SuccessReplacesTheOriginalWithTheCleanedCopy) {
  files_.SetMode("/d/GAME.COM", 0444);
  ASSERT_EQ(Run(StampAndSucceed), 1u);
  std::vector<uint8_t> expected = original_;
  expected[0] = 'A';
  expected[1] = 'B';
  EXPECT_EQ(files_.ReadFileBytes("/d/GAME.COM"), expected);
  EXPECT_EQ(Names(), std::vector<std::string>{"GAME.COM"});
  auto folder = files_.OpenFolder("/d");
  auto cleaned = (*folder)->OpenFile("GAME.COM", OpenMode::kRead);
  EXPECT_EQ((*cleaned)->GetInfo()->mode, 0444u) << "a read-only file stays read-only";
  EXPECT_EQ((*cleaned)->GetTimes()->last_access, kTimes.last_access);
  EXPECT_EQ((*cleaned)->GetTimes()->last_write, kTimes.last_write);
  EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(CleaningRunTest, CopiesACrashLeftBehindAreRemovedByTheNextCleanAndNothingElse) {
  const std::vector<std::string> stale = {".GAME.COM.quarn-a1B2c3", ".GAME.COM.quarn-zzzzzz"};
  const std::vector<std::string> kept = {".GAME.COM.quarn-a1B2c",    // one letter short
                                         ".GAME.COM.quarn-a1B2c3d",  // one letter more
                                         ".GAME.COM.quarn-a1B2_3",   // not a letter or digit
                                         "GAME.COM.quarn-a1B2c3",    // no leading dot
                                         ".OTHER.COM.quarn-a1B2c3",  // another file's copy
                                         ".GAME.CO.quarn-a1B2c3"};
  for (const std::string& name : stale) files_.AddFile("/d/" + name, {1});
  for (const std::string& name : kept) files_.AddFile("/d/" + name, {2});
  ASSERT_EQ(Run(StampAndSucceed), 1u);
  std::vector<std::string> expected = kept;
  expected.push_back("GAME.COM");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(), expected);
}

TEST_F(CleaningRunTest, NoRecordMeansNoCopyAndNoCall) {
  calls = 0;
  const int creates = files_.CallCount(FileOperation::kCreateFile);
  EXPECT_EQ(Run(CountCall, kComCleanSection), 0u);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(files_.CallCount(FileOperation::kCreateFile), creates);
  ExpectOriginalUntouched();
}

TEST_F(CleaningRunTest, AMethodThatGivesUpLeavesTheOriginalAsItWas) {
  EXPECT_EQ(Run(StampAndGiveUp), 0u);
  ExpectOriginalUntouched();
  // The next method starts from the original's bytes, not from what the last one wrote.
  EXPECT_EQ(Run(StampAndSucceed), 1u);
  EXPECT_EQ(files_.ReadFileBytes("/d/GAME.COM")->at(4), 'h');
}

TEST_F(CleaningRunTest, EveryFailureOfTheCopyLeavesTheOriginalAndNoTemporaryFile) {
  const FileOperation steps[] = {FileOperation::kCreateFile, FileOperation::kWrite,
                                 FileOperation::kFlush, FileOperation::kSetTimes,
                                 FileOperation::kRename};
  for (FileOperation step : steps) {
    SCOPED_TRACE(static_cast<int>(step));
    ui_.shown.clear();
    files_.FailCall(step, 1, /*and_after=*/true);
    EXPECT_EQ(Run(StampAndSucceed), 0u);
    files_.FailCall(step, 0);
    ExpectOriginalUntouched();
    ASSERT_EQ(ui_.shown.size(), 1u);
    EXPECT_NE(ui_.shown[0].find("Errore: "), std::string::npos);
  }
}

TEST_F(CleaningRunTest, AFileWithOtherNamesIsNotCleaned) {
  files_.SetLinkCount("/d/GAME.COM", 2);
  EXPECT_EQ(Run(StampAndSucceed), 0u);
  ExpectOriginalUntouched();
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_NE(ui_.shown[0].find("/d/GAME.COM"), std::string::npos);
  EXPECT_NE(ui_.shown[0].find("other names"), std::string::npos);
}

TEST_F(CleaningRunTest, AnOwnerTheCopyCannotTakeStopsTheClean) {
  files_.SetOwner("/d/GAME.COM", 1234, 1234);
  files_.FailCall(FileOperation::kSetOwner, 1, true);
  EXPECT_EQ(Run(StampAndSucceed), 0u);
  ExpectOriginalUntouched();
  files_.FailCall(FileOperation::kSetOwner, 0);
  EXPECT_EQ(Run(StampAndSucceed), 1u);
  auto folder = files_.OpenFolder("/d");
  EXPECT_EQ((*(*folder)->OpenFile("GAME.COM", OpenMode::kRead))->GetInfo()->owner, 1234u);
}

TEST_F(CleaningRunTest, PrependedVirusIsCutFromTheFront) {
  ASSERT_EQ(RunPrepended(), 1u);
  EXPECT_EQ(files_.ReadFileText("/d/GAME.COM"), "host");
  EXPECT_EQ(Names(), std::vector<std::string>{"GAME.COM"});
  auto folder = files_.OpenFolder("/d");
  EXPECT_EQ((*(*folder)->OpenFile("GAME.COM", OpenMode::kRead))->GetTimes()->last_write,
            kTimes.last_write);
}

TEST_F(CleaningRunTest, PrependedCleanNeverTouchesAnExistingDollarFile) {
  files_.AddFile("/d/GAME.CO$", "mine");
  EXPECT_EQ(RunPrepended(), 0u);
  EXPECT_EQ(files_.ReadFileText("/d/GAME.CO$"), "mine");
  EXPECT_EQ(files_.ReadFileBytes("/d/GAME.COM"), original_);
  EXPECT_TRUE(ui_.shown.empty()) << "an existing temporary name is refused silently";

  files_.AddFile("/d/SAVED.CO$", original_);
  EXPECT_EQ(RunPrepended("SAVED.CO$"), 0u) << "the copy would be the file itself";
  EXPECT_EQ(files_.ReadFileBytes("/d/SAVED.CO$"), original_);
}

TEST_F(CleaningRunTest, PrependedCleanKeepsTheOriginalOnEveryFailure) {
  for (FileOperation step : {FileOperation::kWrite, FileOperation::kRename}) {
    SCOPED_TRACE(static_cast<int>(step));
    ui_.shown.clear();
    files_.FailCall(step, 1, true);
    EXPECT_EQ(RunPrepended(), 0u);
    files_.FailCall(step, 0);
    ExpectOriginalUntouched();
    ASSERT_EQ(ui_.shown.size(), 1u);
  }
  files_.FailCall(FileOperation::kWrite, 1, true);
  RunPrepended();
  files_.FailCall(FileOperation::kWrite, 0);
  EXPECT_EQ(ui_.shown.back(), "Errore: Errore di Scrittura");
}

TEST_F(CleaningRunTest, PrependedLengthOfTheWholeFileLeavesAnEmptyHost) {
  files_.Remove("/d/GAME.COM");
  files_.AddFile("/d/GAME.COM", std::vector<uint8_t>(4, 'V'));
  ASSERT_EQ(RunPrepended(), 1u);
  EXPECT_EQ(files_.ReadFileBytes("/d/GAME.COM"), std::vector<uint8_t>{});
  files_.Remove("/d/GAME.COM");
  files_.AddFile("/d/GAME.COM", std::vector<uint8_t>(3, 'V'));
  EXPECT_EQ(RunPrepended(), 0u) << "a prefix longer than the file";
}

// The real file system: the cleaned file is a new file in the same place, with the old
// permission bits and times, and nothing else is left in the folder.
TEST(CleaningCopyOnDisk, CommitKeepsModeAndTimesAndLeavesNothingBehind) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  { std::ofstream(scratch.Child("A.EXE")) << "infected"; }
  chmod(scratch.Child("A.EXE").c_str(), 0440);
  auto files = OpenPosixFileSystem();
  auto folder = files->OpenFolder(scratch.path());
  auto original = (*folder)->OpenFile("A.EXE", OpenMode::kRead);
  auto copy = CleaningCopy::Create(**folder, "A.EXE", **original);
  ASSERT_TRUE(copy.ok()) << copy.message();
  ASSERT_TRUE(WriteAt((*copy)->file(), 0, "clean", 5));
  ASSERT_TRUE((*copy)->file().SetEndOfFile());
  ASSERT_TRUE((*copy)->Commit(kTimes).ok());
  copy->reset();

  struct stat status;
  ASSERT_EQ(stat(scratch.Child("A.EXE").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0440u);
  EXPECT_EQ(status.st_size, 5);
  EXPECT_EQ(status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec, kTimes.last_write);
  EXPECT_EQ(status.st_atim.tv_sec * 1'000'000'000LL + status.st_atim.tv_nsec, kTimes.last_access);
  EXPECT_EQ((*folder)->List()->size(), 1u);
}

}  // namespace
}  // namespace quarn
