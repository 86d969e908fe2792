#include "clean/cleaning_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "clean/prepended_cleaner.h"
#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "engine/test_support/recording_interface.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr uint32_t kVirus = 0x10007;  // only the low 16 bits name records
const FileTimes kTimes{std::nullopt, 1'000'000'000'123, 2'000'000'000'456};

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
// What another program does to the original while a clean runs.
std::function<void()> cleaning_run_meanwhile;
uint32_t StampWhileTheFileChanges(const CleaningContext& context, const CleanRecord& record,
                                  File& copy) {
  cleaning_run_meanwhile();
  return StampAndSucceed(context, record, copy);
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

  // A name the folder holds besides GAME.COM; a failure must name it as the copy left behind.
  std::string OnlyOtherName() {
    std::vector<std::string> names = Names();
    std::erase(names, "GAME.COM");
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? "" : names[0];
  }

  std::vector<uint8_t> original_ = std::vector<uint8_t>{'V', 'V', 'V', 'V', 'h', 'o', 's', 't'};
  MemoryFileSystem files_;
  DatabaseImage signatures_;
  testing::RecordingInterface ui_;
  CleaningContext context_;
};

TEST_F(CleaningRunTest, TheCleanedFileReplacesTheOriginalWithAllItsFacts) {
  const ExtendedAttribute origin{"user.origin", {'n', 'e', 't'}};
  files_.SetMode("/d/GAME.COM", 04551);
  files_.SetOwner("/d/GAME.COM", 1234, 1235);
  files_.SetExtendedAttribute("/d/GAME.COM", origin);
  files_.SetFlags("/d/GAME.COM", 0xC0);
  ASSERT_EQ(Run(StampAndSucceed), 1u);
  std::vector<uint8_t> expected = original_;
  expected[0] = 'A';
  expected[1] = 'B';
  EXPECT_EQ(files_.ReadFileBytes("/d/GAME.COM"), expected);
  EXPECT_EQ(Names(), std::vector<std::string>{"GAME.COM"});
  const FileInfo cleaned = *files_.InfoOf("/d/GAME.COM");
  EXPECT_EQ(cleaned.mode, 04551u) << "read-only and set-user-ID stay";
  EXPECT_EQ(cleaned.owner, 1234u);
  EXPECT_EQ(cleaned.group, 1235u);
  EXPECT_EQ(files_.ExtendedAttributesOf("/d/GAME.COM"), std::vector<ExtendedAttribute>{origin});
  EXPECT_EQ(files_.FlagsOf("/d/GAME.COM"), 0xC0u);
  EXPECT_EQ(files_.TimesOf("/d/GAME.COM")->last_access, kTimes.last_access);
  EXPECT_EQ(files_.TimesOf("/d/GAME.COM")->last_write, kTimes.last_write);
  EXPECT_TRUE(ui_.messages.empty());
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

// Each step of the copy failing in turn: a fact the copy cannot keep declines the clean
// rather than change who may do what with the file.
TEST_F(CleaningRunTest, EveryFailureOfTheCopyLeavesTheOriginalAndNoTemporaryFile) {
  files_.SetMode("/d/GAME.COM", 0640);
  files_.SetOwner("/d/GAME.COM", 1234, 1234);
  files_.SetExtendedAttribute("/d/GAME.COM", {"user.origin", {'n'}});
  files_.SetFlags("/d/GAME.COM", 0x80);
  constexpr const char* kIo = "Input/output error";
  const struct {
    FileOperation step;
    const char* said;
    const char* cause;
  } kFaults[] = {
      {FileOperation::kCreateFile, "no copy can be created beside the file: cannot create /d/.",
       kIo},
      {FileOperation::kSetOwner, "the copy cannot keep the file's owner", ""},
      {FileOperation::kSetFlags, "the copy cannot keep the file's flags", ""},
      {FileOperation::kWrite, "the copy cannot be written", ""},
      {FileOperation::kSetExtendedAttribute, "cannot keep the extended attribute user.origin", ""},
      {FileOperation::kSetMode, "the copy cannot keep the file's permissions 0640", ""},
      {FileOperation::kSetTimes, "the file's times cannot be kept", ""},
      {FileOperation::kFlush, "the copy cannot be flushed", ""},
      {FileOperation::kExamine, "whether the file changed cannot be told", kIo},
      {FileOperation::kRename, "the copy cannot take the file's place: cannot rename /d/.", kIo},
  };
  for (const auto& fault : kFaults) {
    SCOPED_TRACE(fault.said);
    ui_.messages.clear();
    const int creates = files_.CallCount(FileOperation::kCreateFile);
    files_.FailCall(fault.step, 1, /*and_after=*/true);
    EXPECT_EQ(Run(StampAndSucceed), 0u);
    files_.FailCall(fault.step, 0);
    ExpectOriginalUntouched();
    EXPECT_EQ(files_.CallCount(FileOperation::kCreateFile) - creates, 1)
        << "a failure other than a name taken is not tried again";
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].rfind("Errore: clean /d/GAME.COM: ", 0), 0u) << ui_.messages[0];
    EXPECT_NE(ui_.messages[0].find(fault.said), std::string::npos) << ui_.messages[0];
    EXPECT_NE(ui_.messages[0].find(fault.cause), std::string::npos) << ui_.messages[0];
  }
  EXPECT_EQ(Run(StampAndSucceed), 1u);
}

// Another program writes to the file, cuts it, changes its rights or swaps it for another
// while a clean runs: the clean is declined, and what the other program did stays.
TEST_F(CleaningRunTest, AChangeToTheFileWhileItIsCleanedIsNeverLost) {
  const std::vector<uint8_t> other_bytes = {'o', 't', 'h', 'e', 'r', '!', '!', '!'};
  constexpr const char* kChanged = "the file changed while it was cleaned";
  FileTime later = 5'000'000'000'000'000'000;
  auto write_in_place = [&](uint64_t at, const std::vector<uint8_t>& bytes) {
    auto folder = files_.OpenFolder("/d");
    auto file = (*folder)->OpenFile("GAME.COM", OpenMode::kReadWrite);
    ASSERT_TRUE(WriteAt(**file, at, bytes.data(), static_cast<uint32_t>(bytes.size())));
  };
  const struct {
    const char* what;
    std::function<void()> change;
    const char* said;
  } kChanges[] = {
      {"appended", [&] { write_in_place(original_.size(), {'!'}); }, kChanged},
      {"overwritten in place, same size",
       [&] {
         files_.SetClock(++later);
         write_in_place(0, other_bytes);
       },
       kChanged},
      {"given other rights",
       [&] {
         files_.SetClock(++later);
         files_.SetMode("/d/GAME.COM", 0600);
       },
       kChanged},
      {"replaced by a file of the same bytes", [&] { files_.AddFile("/d/GAME.COM", original_); },
       kChanged},
      {"removed", [&] { files_.Remove("/d/GAME.COM"); },
       "the file was removed while it was cleaned"},
  };
  for (const auto& change : kChanges) {
    SCOPED_TRACE(change.what);
    files_.AddFile("/d/GAME.COM", original_);
    ui_.messages.clear();
    std::optional<std::vector<uint8_t>> changed;
    cleaning_run_meanwhile = [&] {
      change.change();
      changed = files_.ReadFileBytes("/d/GAME.COM");
    };
    EXPECT_EQ(Run(StampWhileTheFileChanges), 0u);
    EXPECT_EQ(files_.ReadFileBytes("/d/GAME.COM"), changed);
    EXPECT_LE(Names().size(), 1u) << "a temporary file was left";
    EXPECT_THAT(ui_.messages, ElementsAre(HasSubstr(change.said)));
  }
}

// A copy that cannot be removed (an append-only folder) is named, with the cause, whatever
// ended the clean.
TEST_F(CleaningRunTest, ACopyLeftBehindIsNamedWithTheCause) {
  const struct {
    const char* what;
    FileOperation also_failing;
    CleaningMethod method;  // none: the prepended clean, which has a text of its own
    const char* first;
  } kEndings[] = {
      {"the method gave up", FileOperation::kDelete, StampAndGiveUp, ""},
      {"the rename failed", FileOperation::kRename, StampAndSucceed, "cannot rename /d/."},
      {"the copy could not be written", FileOperation::kWrite, nullptr, "Errore di Scrittura"},
  };
  for (const auto& ending : kEndings) {
    SCOPED_TRACE(ending.what);
    files_.Remove("/d");
    files_.AddFile("/d/GAME.COM", original_);
    ui_.messages.clear();
    files_.FailCall(FileOperation::kDelete, 1, true);
    files_.FailCall(ending.also_failing, 1, true);
    EXPECT_EQ(ending.method == nullptr ? RunPrepended() : Run(ending.method), 0u);
    files_.ClearFaults();
    EXPECT_EQ(files_.ReadFileBytes("/d/GAME.COM"), original_);
    const std::string left = OnlyOtherName();
    const std::string said =
        "a copy is left behind: cannot delete /d/" + left + ": Input/output error";
    EXPECT_THAT(ui_.messages, Contains(HasSubstr(said)));
    EXPECT_THAT(ui_.messages, Contains(HasSubstr(ending.first)));
  }
}

TEST_F(CleaningRunTest, AFileWithOtherNamesIsNotCleaned) {
  files_.SetLinkCount("/d/GAME.COM", 2);
  EXPECT_EQ(Run(StampAndSucceed), 0u);
  ExpectOriginalUntouched();
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("/d/GAME.COM"), std::string::npos);
  EXPECT_NE(ui_.messages[0].find("other names"), std::string::npos);
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
  const int listings = files_.CallCount(FileOperation::kList);
  EXPECT_EQ(RunPrepended(), 0u);
  EXPECT_EQ(files_.CallCount(FileOperation::kList), listings) << "a lookup, not a listing";
  EXPECT_EQ(files_.ReadFileText("/d/GAME.CO$"), "mine");
  EXPECT_EQ(files_.ReadFileBytes("/d/GAME.COM"), original_);
  EXPECT_TRUE(ui_.messages.empty()) << "an existing temporary name is refused silently";

  files_.AddFile("/d/SAVED.CO$", original_);
  EXPECT_EQ(RunPrepended("SAVED.CO$"), 0u) << "the copy would be the file itself";
  EXPECT_EQ(files_.ReadFileBytes("/d/SAVED.CO$"), original_);
}

TEST_F(CleaningRunTest, PrependedCleanKeepsTheOriginalOnEveryFailure) {
  for (FileOperation step : {FileOperation::kWrite, FileOperation::kRename}) {
    SCOPED_TRACE(static_cast<int>(step));
    ui_.messages.clear();
    files_.FailCall(step, 1, true);
    EXPECT_EQ(RunPrepended(), 0u);
    files_.FailCall(step, 0);
    ExpectOriginalUntouched();
    ASSERT_EQ(ui_.messages.size(), 1u);
  }
  files_.FailCall(FileOperation::kWrite, 1, true);
  RunPrepended();
  files_.FailCall(FileOperation::kWrite, 0);
  EXPECT_EQ(ui_.messages.back(), "Errore: Errore di Scrittura");
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

}  // namespace
}  // namespace quarn
