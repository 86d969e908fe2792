#include "engine/scan_log.h"

#include <gtest/gtest.h>

#include "platform/memory_file_system.h"

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

TEST(ScanLog, ALogThatCannotBeOpenedSwallowsEverything) {
  MemoryFileSystem files;
  files.AddFolder("/data");
  files.SetReadOnly("/data", true);
  auto folder = files.OpenFolder("/data");
  ScanLog log;
  EXPECT_FALSE(log.Open(**folder));
  log.AppendLine("nowhere");
  EXPECT_FALSE(log.is_open());
  EXPECT_FALSE(files.Exists("/data/QUARNEXP.LOG"));
}

}  // namespace
}  // namespace quarn
