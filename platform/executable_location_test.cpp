#include "platform/executable_location.h"

#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

namespace quarn {
namespace {

// The test runs from the build tree's bin/ folder, laid out as an installed prefix is.
TEST(ExecutableLocationTest, FindsThisTestAndTheShareFolderBesideBin) {
  std::string directory = ExecutableDirectory();
  ASSERT_FALSE(directory.empty());
  struct stat status;
  EXPECT_EQ(stat((directory + "/quarn_platform_test").c_str(), &status), 0) << directory;
  ASSERT_GE(directory.size(), 4u);
  EXPECT_EQ(directory.substr(directory.size() - 4), "/bin");

  std::string prefix = directory.substr(0, directory.size() - 4);
  EXPECT_EQ(BundledDataDirectory(), prefix + "/share/quarnexp");
}

}  // namespace
}  // namespace quarn
