#include "daemon/daemon_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

std::string Read(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The log's lines without their time stamps.
std::string Bodies(const std::string& text) {
  std::string bodies;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    bodies += line.substr(line.find(" -> ") + 4) + "\n";
  }
  return bodies;
}

// Lines that went nowhere (a full disk, the log's folder removed) are counted and the count
// told once the log takes lines again.
TEST(DaemonLogTest, LinesLostToAFullDiskOrAGoneFolderAreCountedAndTold) {
  ScratchFolder scratch;
  const std::string link = scratch.Child("full.log");
  ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
  DaemonLog full;
  ASSERT_TRUE(full.OpenFile(link).ok());
  full.Line("one");
  full.Line("two");
  ASSERT_EQ(unlink(link.c_str()), 0);
  full.Reopen();
  full.Line("three");
  EXPECT_EQ(Bodies(Read(link)), "WARNING: 2 log lines were lost\nthree\n");

  const std::string folder = scratch.Child("logs");
  const std::string path = folder + "/quarnd.log";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  DaemonLog gone;
  ASSERT_TRUE(gone.OpenFile(path).ok());
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(rmdir(folder.c_str()), 0);
  gone.Line("into the void");
  gone.Reopen();
  gone.Line("still nowhere");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  gone.Reopen();
  gone.Line("back");
  EXPECT_EQ(Bodies(Read(path)), "WARNING: 2 log lines were lost\nback\n");
}

}  // namespace
}  // namespace quarn
