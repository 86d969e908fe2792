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

}  // namespace
}  // namespace quarn
