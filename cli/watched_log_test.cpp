#include "cli/watched_log.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/test_support/memory_file_system.h"

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

// A log that can be neither opened nor created is reported by the real cause: the create
// that follows a failed open fails only because something of that name exists, which is
// never the cause worth telling.
TEST_F(WatchedLog, ALogThatCannotBeOpenedIsReportedByItsRealCause) {
  struct Case {
    const char* setting;
    std::function<void(MemoryFileSystem&)> arrange;
    const char* report;
  };
  const std::string log = "/data/QUARNEXP.LOG";
  const Case cases[] = {
      {"a read-only folder", [](MemoryFileSystem& files) { files.SetReadOnly("/data", true); },
       "cannot create /data/QUARNEXP.LOG: Permission denied"},
      {"a read-only log",
       [&](MemoryFileSystem& files) {
         files.AddFile(log, "old\r\n");
         files.SetAttributes(log, FileAttributes{.read_only = true});
       },
       "cannot open /data/QUARNEXP.LOG: Permission denied"},
      {"a FIFO", [&](MemoryFileSystem& files) { files.AddSpecial(log); },
       "cannot open /data/QUARNEXP.LOG: not a regular file"},
      {"a folder", [&](MemoryFileSystem& files) { files.AddFolder(log); },
       "cannot open /data/QUARNEXP.LOG: is a folder, not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    MemoryFileSystem files;
    files.AddFolder("/data");
    c.arrange(files);
    ScanLog log_of_case;
    std::vector<std::string> reports;
    EXPECT_FALSE(OpenWatchedLog(files, "/data", "QUARNEXP.LOG", log_of_case,
                                [&](const std::string& trouble) { reports.push_back(trouble); }));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], std::string(c.report) + "; the scan goes on without a complete log");
  }
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
