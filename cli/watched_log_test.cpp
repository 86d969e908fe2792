#include "cli/watched_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory_file_system.h"

namespace quarn {
namespace {

class WatchedLog : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(files_.AddFolder("/data")); }

  bool Open(const std::string& folder = "/data") {
    return OpenWatchedLog(files_, folder, "QUARNEXP.LOG", log_,
                          [this](const std::string& trouble) { reports_.push_back(trouble); });
  }

  MemoryFileSystem files_;
  ScanLog log_;
  std::vector<std::string> reports_;
};

TEST_F(WatchedLog, WritesAsTheLogDoesAndReportsNothingWhenAllGoesWell) {
  ASSERT_TRUE(Open());
  log_.AppendLine("line");
  EXPECT_EQ(files_.ReadFileText("/data/QUARNEXP.LOG"), std::string(kScanLogHeader) + "line\r\n");
  EXPECT_TRUE(reports_.empty());
}

TEST_F(WatchedLog, AppendsToAnExistingLog) {
  ASSERT_TRUE(files_.AddFile("/data/QUARNEXP.LOG", "old\r\n"));
  ASSERT_TRUE(Open());
  log_.AppendLine("new");
  EXPECT_EQ(files_.ReadFileText("/data/QUARNEXP.LOG"), "old\r\nnew\r\n");
  EXPECT_TRUE(reports_.empty());
}

TEST_F(WatchedLog, MissingFolderIsReportedWithItsPath) {
  EXPECT_FALSE(Open("/data/missing"));
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_NE(reports_[0].find("/data/missing"), std::string::npos) << reports_[0];
  log_.AppendLine("goes nowhere");
  EXPECT_EQ(reports_.size(), 1u);
}

TEST_F(WatchedLog, ReadOnlyFolderIsReportedWithTheFileName) {
  ASSERT_TRUE(files_.SetReadOnly("/data", true));
  EXPECT_FALSE(Open());
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_NE(reports_[0].find("/data/QUARNEXP.LOG"), std::string::npos) << reports_[0];
}

TEST_F(WatchedLog, ReadOnlyLogIsReportedByWhyItCannotBeOpened) {
  ASSERT_TRUE(files_.AddFile("/data/QUARNEXP.LOG", "old\r\n"));
  ASSERT_TRUE(files_.SetAttributes("/data/QUARNEXP.LOG", FileAttributes{.read_only = true}));
  EXPECT_FALSE(Open());
  ASSERT_EQ(reports_.size(), 1u);
  // The create that follows fails only because the file exists; that is not the cause.
  EXPECT_EQ(reports_[0].find("exists"), std::string::npos) << reports_[0];
  EXPECT_NE(reports_[0].find("cannot open"), std::string::npos) << reports_[0];
}

TEST_F(WatchedLog, FailingWritesAreReportedOnceAndTheRestStillTried) {
  ASSERT_TRUE(Open());  // writes the header: the first write
  files_.FailCall(FileOperation::kWrite, 2, /*and_after=*/true);
  log_.AppendLine("one");
  log_.AppendLine("two");
  log_.AppendLine("three");
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_NE(reports_[0].find("/data/QUARNEXP.LOG"), std::string::npos) << reports_[0];
  EXPECT_EQ(files_.ReadFileText("/data/QUARNEXP.LOG"), std::string(kScanLogHeader) + "one\r\n");
  EXPECT_EQ(files_.CallCount(FileOperation::kWrite), 4);
}

TEST_F(WatchedLog, ShortWriteOfAFullDiskIsReported) {
  ASSERT_TRUE(Open());
  files_.SetShortWrites(2);
  log_.AppendLine("longer than two bytes");
  EXPECT_EQ(reports_.size(), 1u);
}

}  // namespace
}  // namespace quarn
