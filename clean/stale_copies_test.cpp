#include "clean/stale_copies.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

class StaleCopiesTest : public ::testing::Test {
 protected:
  StaleCopiesTest() { files_.AddFile("/d/GAME.COM", "infected"); }

  std::vector<Status> RemoveFor(const std::string& name, const std::string& folder_path = "/d") {
    auto folder = files_.OpenFolder(folder_path);
    EXPECT_TRUE(folder.ok()) << folder.message();
    return stale_.Remove(**folder, name);
  }

  MemoryFileSystem files_;
  StaleCopies stale_;
};

TEST_F(StaleCopiesTest, OnlyTheFilesOwnCopiesAreRemoved) {
  const std::string long_name(242, 'n');  // its copies carry a shortened name
  files_.AddFile("/d/" + long_name, "infected");
  const std::string long_stem = "." + std::string(233, 'n') + ".quarn-07681b4d";
  const std::vector<std::string> stale = {".GAME.COM.quarn-a1B2c3", ".GAME.COM.quarn-zzzzzz",
                                          long_stem + "Q1w2E3"};
  const std::vector<std::string> kept = {".GAME.COM.quarn-a1B2c",    // one letter short
                                         ".GAME.COM.quarn-a1B2c3d",  // one letter more
                                         ".GAME.COM.quarn-a1B2_3",   // not a letter or digit
                                         "GAME.COM.quarn-a1B2c3",    // no leading dot
                                         ".OTHER.COM.quarn-a1B2c3",  // another file's copy
                                         ".GAME.CO.quarn-a1B2c3",
                                         long_stem + "Q1w2E",
                                         "." + std::string(233, 'n') + ".quarn-17681b4dQ1w2E3"};
  for (const std::string& name : stale) files_.AddFile("/d/" + name, {1});
  for (const std::string& name : kept) files_.AddFile("/d/" + name, {2});
  files_.AddFolder("/d/.GAME.COM.quarn-f0ld3r");  // a folder is never a copy

  EXPECT_TRUE(RemoveFor("GAME.COM").empty());
  EXPECT_TRUE(RemoveFor(long_name).empty());
  std::vector<std::string> expected = kept;
  expected.insert(expected.end(), {"GAME.COM", long_name, ".GAME.COM.quarn-f0ld3r"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files_.NamesIn("/d"), expected);
}

// Cleaning N files of a folder of M entries must not cost N listings of M.
TEST_F(StaleCopiesTest, AFolderIsListedOnceHoweverManyOfItsFilesAreCleaned) {
  for (int i = 0; i < 200; ++i) files_.AddFile("/d/F" + std::to_string(i) + ".COM", "x");
  files_.AddFile("/d/.F150.COM.quarn-abcdef", "left");
  files_.AddFile("/e/.F1.COM.quarn-abcdef", "left");
  for (int i = 0; i < 200; ++i) EXPECT_TRUE(RemoveFor("F" + std::to_string(i) + ".COM").empty());
  EXPECT_EQ(files_.CallCount(FileOperation::kList), 1);
  EXPECT_FALSE(files_.Exists("/d/.F150.COM.quarn-abcdef")) << "found by the one listing";

  EXPECT_TRUE(RemoveFor("F1.COM", "/e").empty());
  EXPECT_FALSE(files_.Exists("/e/.F1.COM.quarn-abcdef"));
  EXPECT_TRUE(RemoveFor("F2.COM").empty());
  EXPECT_EQ(files_.CallCount(FileOperation::kList), 2) << "one listing per folder";

  files_.AddFile("/d/.F3.COM.quarn-abcdef", "left by a later crash");
  stale_.Forget();
  EXPECT_TRUE(RemoveFor("F3.COM").empty());
  EXPECT_EQ(files_.CallCount(FileOperation::kList), 3) << "a new scan looks again";
  EXPECT_FALSE(files_.Exists("/d/.F3.COM.quarn-abcdef"));
}

TEST_F(StaleCopiesTest, ACopyThatStaysIsNamedWithTheCause) {
  files_.AddFile("/d/.GAME.COM.quarn-a1B2c3", "left");
  files_.AddFile("/d/.GAME.COM.quarn-gone00", "removed by someone else");
  RemoveFor("OTHER.COM");  // the listing is made here
  files_.Remove("/d/.GAME.COM.quarn-gone00");
  files_.FailCall(FileOperation::kDelete, 1, true);
  const std::vector<Status> stays = RemoveFor("GAME.COM");
  ASSERT_EQ(stays.size(), 1u) << "a copy gone meanwhile is no failure";
  EXPECT_EQ(stays[0].message(),
            "clean /d/GAME.COM: a copy an earlier clean left behind stays: cannot delete "
            "/d/.GAME.COM.quarn-a1B2c3: Input/output error");
  EXPECT_TRUE(files_.Exists("/d/.GAME.COM.quarn-a1B2c3"));
}

}  // namespace
}  // namespace quarn
