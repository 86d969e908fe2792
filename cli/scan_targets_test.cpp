#include "cli/scan_targets.h"

#include <gtest/gtest.h>

#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

class ScanTargets : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(files_.AddFile("/srv/dos/UTIL/A.COM", "a"));
    ASSERT_TRUE(files_.AddFile("/srv/dos/B.EXE", "b"));
    ASSERT_TRUE(files_.AddFile("/outside/C.COM", "c"));
    ASSERT_TRUE(files_.AddSpecial("/srv/dos/FIFO"));
    ASSERT_TRUE(files_.AddLink("/srv/dos/LINK.COM", "/srv/dos/B.EXE"));
    ASSERT_TRUE(files_.AddLink("/srv/dos/REL.COM", "UTIL/../UTIL/A.COM"));
    ASSERT_TRUE(files_.AddLink("/srv/dos/LOOP", "LOOP"));
    ASSERT_TRUE(drives_.Add(Drive{'C', "/srv", DriveType::kFixed}));
    ASSERT_TRUE(drives_.Add(Drive{'E', "/srv/cd", DriveType::kCdRom}));
    ASSERT_TRUE(drives_.AddDriveWithoutFiles('A', DriveType::kRemovable));
  }

  ResolvedTargets Resolve(std::vector<std::string> targets, std::string working = "/srv/dos") {
    return ResolveTargets(targets, drives_, files_, working);
  }

  MemoryFileSystem files_;
  DriveMap drives_;
};

TEST_F(ScanTargets, FoldersBecomeRootsShownAsTheDriveMapShowsThem) {
  ASSERT_TRUE(files_.AddFolder("/srv/cd"));
  ResolvedTargets resolved =
      Resolve({"C:", "c:/dos/UTIL", "C:\\dos", "/srv/dos/UTIL/", "UTIL", "..", "/outside", "E:"});
  EXPECT_TRUE(resolved.missing.empty());
  std::vector<std::pair<std::string, std::string>> shown;
  for (const ScanRoot& root : resolved.roots) {
    EXPECT_FALSE(root.single_file);
    shown.emplace_back(root.display_path, root.host_path);
  }
  EXPECT_EQ(shown, (std::vector<std::pair<std::string, std::string>>{
                       {"C:", "/srv"},
                       {"C:\\dos\\UTIL", "/srv/dos/UTIL"},
                       {"C:\\dos", "/srv/dos"},
                       {"C:\\dos\\UTIL", "/srv/dos/UTIL"},
                       {"C:\\dos\\UTIL", "/srv/dos/UTIL"},
                       {"C:", "/srv"},
                       {"/outside", "/outside"},
                       {"E:", "/srv/cd"},
                   }));
  EXPECT_EQ(resolved.roots.back().drive_icon, ResultIcon::kCdRom);
  EXPECT_EQ(resolved.roots.front().drive_icon, ResultIcon::kHardDisk);
}

// A link the user names is followed to the file it names, which is the one scanned and acted
// on; links met in a walk never are.
TEST_F(ScanTargets, RegularFileIsScannedAloneInItsFolder) {
  ResolvedTargets resolved =
      Resolve({"B.EXE", "C:\\dos\\UTIL\\A.COM", "/outside/C.COM", "LINK.COM", "C:\\dos\\REL.COM"});
  ASSERT_TRUE(resolved.missing.empty());
  ASSERT_EQ(resolved.roots.size(), 5u);
  EXPECT_EQ(resolved.roots[3].host_path, "/srv/dos");
  EXPECT_EQ(resolved.roots[3].single_file, "B.EXE");
  EXPECT_EQ(resolved.roots[4].display_path, "C:\\dos\\UTIL");
  EXPECT_EQ(resolved.roots[4].single_file, "A.COM");
  EXPECT_EQ(resolved.roots[0].display_path, "C:\\dos");
  EXPECT_EQ(resolved.roots[0].host_path, "/srv/dos");
  EXPECT_EQ(resolved.roots[0].single_file, "B.EXE");
  EXPECT_EQ(resolved.roots[1].display_path, "C:\\dos\\UTIL");
  EXPECT_EQ(resolved.roots[1].single_file, "A.COM");
  EXPECT_EQ(resolved.roots[2].display_path, "/outside");
  EXPECT_EQ(resolved.roots[2].single_file, "C.COM");
}

// A library caller's batch names many files of one folder: it is opened once for them all,
// and from the second file on its listing answers for them.
TEST_F(ScanTargets, FilesOfOneFolderOpenItOnce) {
  ASSERT_TRUE(files_.AddFile("/srv/dos/D.COM", "d"));
  const int folders = files_.CallCount(FileOperation::kOpenFolder);
  const int opened = files_.CallCount(FileOperation::kOpenFile);
  EXPECT_EQ(Resolve({"/srv/dos/B.EXE", "D.COM", "C:\\dos\\B.EXE"}).roots.size(), 3u);
  EXPECT_EQ(files_.CallCount(FileOperation::kOpenFolder) - folders, 1);
  EXPECT_EQ(files_.CallCount(FileOperation::kOpenFile) - opened, 1);
}

TEST_F(ScanTargets, WhatNamesNoFolderOrFileIsMissingAndTheRestStillResolve) {
  ResolvedTargets resolved =
      Resolve({"nothing", "Q:", "C:\\NOPE", "FIFO", "LOOP", "", "C:\\..\\..", "B.EXE"});
  EXPECT_EQ(resolved.missing, (std::vector<std::string>{"nothing", "Q:", "C:\\NOPE", "FIFO", "LOOP",
                                                        "", "C:\\..\\.."}));
  ASSERT_EQ(resolved.roots.size(), 1u);
  EXPECT_EQ(resolved.roots[0].single_file, "B.EXE");
}

// A working folder that cannot be named was removed and holds nothing: a relative target is
// missing (it once resolved against the root), and the other targets are still scanned.
TEST_F(ScanTargets, ARelativeTargetWithoutAWorkingFolderIsMissing) {
  ResolvedTargets resolved = Resolve({"/outside", "dos/B.EXE", "C:\\dos", "..", "a:"}, "");
  EXPECT_EQ(resolved.missing, (std::vector<std::string>{"dos/B.EXE", ".."}));
  ASSERT_EQ(resolved.roots.size(), 3u);
  EXPECT_EQ(resolved.roots[0].host_path, "/outside");
  EXPECT_EQ(resolved.roots[1].host_path, "/srv/dos");
  EXPECT_EQ(resolved.roots[2].display_path, "A:");
}

}  // namespace
}  // namespace quarn
