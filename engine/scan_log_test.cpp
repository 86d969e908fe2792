#include "engine/scan_log.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>

#include "platform/file_contents.h"
#include "platform/posix_folder.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

TEST(ScanLog, ANewLogStartsWithItsHeaderAndAnOldOneIsContinued) {
  MemoryFileSystem files;
  files.AddFolder("/data");
  auto folder = files.OpenFolder("/data");
  {
    ScanLog log;
    ASSERT_TRUE(log.Open(**folder));
    log.AppendLine("one");
  }
  {
    ScanLog log;
    ASSERT_TRUE(log.Open(**folder));
    log.AppendLine("two");
    EXPECT_FALSE(log.write_failed());
  }
  EXPECT_EQ(files.ReadFileText("/data/QUARNEXP.LOG"),
            "Quarn Explorer 98 Professional Log\r\n\r\none\r\ntwo\r\n");
}

// Two scans sharing one log on disk, each with a handle of its own: every line of both
// arrives once and whole, in each writer's own order.
TEST(ScanLog, TwoRunsAppendingAtOnceKeepEveryLineWhole) {
  constexpr int kLinesEach = 3000;
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  std::unique_ptr<FileSystem> disk = OpenPosixFileSystem();
  auto folder = disk->OpenFolder(scratch.path());
  ASSERT_TRUE(folder.ok()) << folder.message();
  ScanLog first;
  ScanLog second;
  ASSERT_TRUE(first.Open(**folder));
  ASSERT_TRUE(second.Open(**folder));
  auto write_lines = [](ScanLog& log, char writer) {
    for (int line = 0; line < kLinesEach; ++line) {
      log.AppendLine(std::string(1, writer) + " line " + std::to_string(line) + " of the run");
    }
  };
  std::thread other(write_lines, std::ref(second), 'B');
  write_lines(first, 'A');
  other.join();
  EXPECT_FALSE(first.write_failed() || second.write_failed());

  auto bytes = ReadWholeFile(**folder, std::string(kScanLogName));
  ASSERT_TRUE(bytes.ok()) << bytes.message();
  const std::string text(bytes->begin(), bytes->end());
  ASSERT_EQ(text.rfind(kScanLogHeader, 0), 0u);
  std::map<char, int> next_line = {{'A', 0}, {'B', 0}};
  std::istringstream lines(text.substr(kScanLogHeader.size()));
  for (std::string line; std::getline(lines, line);) {
    ASSERT_TRUE(line.size() > 2 && next_line.count(line[0]) == 1) << "torn line: " << line;
    ASSERT_EQ(line, std::string(1, line[0]) + " line " + std::to_string(next_line[line[0]]++) +
                        " of the run\r");
  }
  EXPECT_EQ(next_line['A'], kLinesEach);
  EXPECT_EQ(next_line['B'], kLinesEach);
}

TEST(ScanLog, AFailedWriteIsRememberedAndTheLogGoesOn) {
  MemoryFileSystem files;
  files.AddFolder("/data");
  auto folder = files.OpenFolder("/data");
  ScanLog log;
  ASSERT_TRUE(log.Open(**folder));
  files.SetShortWrites(2);
  log.AppendLine("lost");
  EXPECT_TRUE(log.write_failed());
  files.SetShortWrites(0);
  log.AppendLine("kept");
  EXPECT_TRUE(log.write_failed()) << "stays set for the front end to report once";
  EXPECT_NE(files.ReadFileText("/data/QUARNEXP.LOG")->find("kept\r\n"), std::string::npos);
}

}  // namespace
}  // namespace quarn
