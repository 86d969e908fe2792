// Every infected sample that a cleaning record covers goes through the whole way a scan
// takes it: detected with the database that ships, cleaned in a folder, and the file left is
// its host, byte for byte, and is found clean.
#include <gtest/gtest.h>

#include <set>

#include "clean/file_cleaner.h"
#include "dbtool/database_files.h"
#include "engine/file_verdict.h"
#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "platform/byte_reader.h"
#include "platform/posix_folder.h"
#include "platform/test_support/memory_file_system.h"
#include "samplegen/sample_set.h"

namespace quarn {
namespace {

class Messages : public UserInterface {
 public:
  void SetOptionsStatus(OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view caption, std::string_view text) override {
    shown.push_back(std::string(caption) + ": " + std::string(text));
  }
  std::vector<std::string> shown;
};

class SampleCleaningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto files = OpenPosixFileSystem();
    auto pair = ReadDatabasePair(*files, QUARN_DATA_DIR);
    ASSERT_TRUE(pair.ok()) << pair.message();
    signatures_ = DatabaseImage(pair->signatures);
    files_.AddFolder("/scan");
  }

  FileVerdict Detect(const std::string& name) {
    auto folder = files_.OpenFolder("/scan");
    auto file = (*folder)->OpenFile(name, OpenMode::kRead);
    return DetectFile(signatures_, **file, true);
  }

  DatabaseImage signatures_;
  MemoryFileSystem files_;
  Messages ui_;
};

TEST_F(SampleCleaningTest, EveryCleanableSampleGivesBackItsHost) {
  int cleaned = 0;
  std::set<uint32_t> families;
  for (const samples::Sample& sample : samples::BuildSampleSet()) {
    if (!sample.host) continue;
    SCOPED_TRACE(sample.name);
    ++cleaned;
    families.insert(sample.expected.virus);
    files_.AddFile("/scan/" + sample.name, sample.bytes);
    const FileVerdict verdict = Detect(sample.name);
    ASSERT_EQ(verdict.virus, sample.expected.virus);
    auto folder = files_.OpenFolder("/scan");
    StaleCopies stale_copies;
    const auto clean = [&](uint32_t virus) {
      return verdict.executable
                 ? CleanExecutable(signatures_, **folder, sample.name, virus, ui_, stale_copies)
                 : CleanNonExecutable(signatures_, **folder, sample.name, virus, ui_, stale_copies);
    };
    // An imported signature's id whose low 16 bits name this family has no method.
    EXPECT_EQ(clean(kImportedVirusIdBase + verdict.virus), 0u);
    EXPECT_EQ(files_.ReadFileBytes("/scan/" + sample.name), sample.bytes);
    EXPECT_EQ(clean(verdict.virus), 1u);
    EXPECT_EQ(files_.ReadFileBytes("/scan/" + sample.name), *sample.host);
    const FileVerdict after = Detect(sample.name);
    EXPECT_EQ(after.virus, 0u);
    EXPECT_EQ(after.suspicious, 0u);
    EXPECT_EQ(files_.ReadFileBytes("/scan/" + sample.name).has_value(), true);
  }
  EXPECT_TRUE(ui_.shown.empty()) << ui_.shown.front();
  // Every cleaning record of the database (each method, each scheme) has a sample.
  for (int section :
       {kExeCleanSection, kEncryptedExeCleanSection, kComCleanSection, kPrependCleanSection,
        kEncryptedComCleanSection, kMacroCleanSection, kPeCleanSection}) {
    int records = 0;
    for (SectionWalk walk(signatures_, DirectoryOffset(section), ReaderRecordSize(section));
         !walk.AtEnd(); walk.Next()) {
      ++records;
      EXPECT_EQ(families.count(ReadU16(walk.Record(), 0)), 1u)
          << "section " << section << " record " << records << " has no sample";
    }
    EXPECT_GT(records, 0) << "section " << section;
  }
  auto folder = files_.OpenFolder("/scan");
  auto entries = (*folder)->List();
  EXPECT_EQ(entries->size(), static_cast<size_t>(cleaned)) << "a temporary file was left";
}

}  // namespace
}  // namespace quarn
