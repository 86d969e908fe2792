#include "containers/archives/archive_names.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(ArchiveDisplayPathTest, NamesAreShownWithBackslashesAndNeverForgeALine) {
  const std::string replacement = "\xEF\xBF\xBD";
  struct Case {
    std::string stored;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"INSTALL/SETUP.EXE", "INSTALL\\SETUP.EXE"},
      {"./INSTALL//SETUP.EXE", "INSTALL\\SETUP.EXE"},
      {"/etc/./passwd", "etc\\passwd"},
      {"..\\../OUT.COM", "..\\..\\OUT.COM"},
      {"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},
      {"bad\xFF\xC3.txt", "bad" + replacement + replacement + ".txt"},
      {"x\nC:\\FAKE.COM Infetto", "x" + replacement + "C:\\FAKE.COM Infetto"},
      {"tab\there\x7F", "tab" + replacement + "here" + replacement},
      {"\xC0\xAF", replacement + replacement},  // an overlong "/" is no separator
      {"\xE2\x80\xA8line", replacement + "line"},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(ArchiveDisplayPath(test.stored), test.shown) << test.stored;
  }
}

}  // namespace
}  // namespace quarn
