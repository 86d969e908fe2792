// What only the POSIX folder shows; the behaviour it shares with the memory file system is
// checked in file_system_contract_test.cpp.

#include "platform/posix_folder.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

class PosixFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    Result<std::unique_ptr<Folder>> opened = files_->OpenFolder(scratch_.path());
    ASSERT_TRUE(opened.ok()) << opened.message();
    folder_ = std::move(*opened);
  }

  void MakeFile(const std::string& name) {
    int descriptor = open(scratch_.Child(name).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(descriptor, 0);
    close(descriptor);
  }

  static bool RunningAsRoot() { return geteuid() == 0; }

  ScratchFolder scratch_;
  std::unique_ptr<FileSystem> files_ = OpenPosixFileSystem();
  std::unique_ptr<Folder> folder_;
};

// A bind mount of a folder of the same file system has that file system's device, yet is a
// mount of its own: a walk must see it as one.
TEST_F(PosixFolderTest, ABindMountIsAnotherMountDespiteItsDevice) {
  ASSERT_EQ(mkdir(scratch_.Child("source").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(scratch_.Child("bound").c_str(), 0755), 0);
  if (mount(scratch_.Child("source").c_str(), scratch_.Child("bound").c_str(), nullptr, MS_BIND,
            nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
  }
  Result<std::vector<FolderEntry>> entries = folder_->List();
  umount2(scratch_.Child("bound").c_str(), MNT_DETACH);
  ASSERT_TRUE(entries.ok());
  for (const FolderEntry& entry : *entries) {
    EXPECT_EQ(entry.mount != folder_->Mount(), entry.name == "bound") << entry.name;
  }
}

TEST_F(PosixFolderTest, TheParentOfAMovedFolderIsWhereItIsNow) {
  ASSERT_EQ(mkdir(scratch_.Child("a").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(scratch_.Child("a/inner").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(scratch_.Child("b").c_str(), 0755), 0);
  Result<std::unique_ptr<Folder>> a = folder_->OpenFolder("a");
  ASSERT_TRUE(a.ok());
  Result<std::unique_ptr<Folder>> inner = (*a)->OpenFolder("inner");
  ASSERT_TRUE(inner.ok());
  Result<std::unique_ptr<Folder>> parent = (*inner)->OpenParent();
  ASSERT_TRUE(parent.ok());
  EXPECT_EQ((*parent)->Identity(), (*a)->Identity());
  EXPECT_NE((*a)->Identity(), folder_->Identity());

  ASSERT_EQ(rename(scratch_.Child("a/inner").c_str(), scratch_.Child("b/inner").c_str()), 0);
  ASSERT_EQ(symlink(scratch_.Child("b").c_str(), scratch_.Child("a/inner").c_str()), 0);
  parent = (*inner)->OpenParent();
  ASSERT_TRUE(parent.ok());
  Result<std::unique_ptr<Folder>> b = folder_->OpenFolder("b");
  ASSERT_TRUE(b.ok());
  EXPECT_EQ((*parent)->Identity(), (*b)->Identity());
  EXPECT_FALSE((*a)->OpenFolder("inner").ok()) << "a link in its place is never followed";
}

TEST_F(PosixFolderTest, OpenFileRefusesADeviceNode) {
  Result<std::unique_ptr<Folder>> devices = files_->OpenFolder("/dev");
  if (!devices.ok()) GTEST_SKIP() << devices.message();
  Result<std::unique_ptr<File>> null_device = (*devices)->OpenFile("null", OpenMode::kRead);
  EXPECT_FALSE(null_device.ok());
  EXPECT_EQ(null_device.message(),
            "cannot open /dev/null: is a character device, not a regular file");
}

TEST_F(PosixFolderTest, TheStartingPathMayGoThroughALink) {
  ASSERT_EQ(mkdir(scratch_.Child("real").c_str(), 0755), 0);
  ASSERT_EQ(symlink("real", scratch_.Child("alias").c_str()), 0);
  Result<std::unique_ptr<Folder>> opened = files_->OpenFolder(scratch_.Child("alias"));
  ASSERT_TRUE(opened.ok()) << opened.message();
  EXPECT_EQ((*opened)->Path(), scratch_.Child("alias"));
  ASSERT_TRUE((*opened)->CreateFile("inside").ok());
  struct stat status;
  EXPECT_EQ(lstat(scratch_.Child("real/inside").c_str(), &status), 0);
}

TEST_F(PosixFolderTest, PathsBelowTheRootGetOneSlash) {
  Result<std::unique_ptr<Folder>> root = files_->OpenFolder("/");
  ASSERT_TRUE(root.ok()) << root.message();
  EXPECT_EQ((*root)->Path(), "/");
  std::string first = scratch_.path().substr(1, scratch_.path().find('/', 1) - 1);
  Result<std::unique_ptr<Folder>> below = (*root)->OpenFolder(first);
  ASSERT_TRUE(below.ok()) << below.message();
  EXPECT_EQ((*below)->Path(), "/" + first);
}

TEST_F(PosixFolderTest, ARenameRefusedForWantOfPermissionNamesBothEntries) {
  if (RunningAsRoot()) GTEST_SKIP() << "root may write anywhere";
  MakeFile("from");
  ASSERT_EQ(chmod(scratch_.path().c_str(), 0555), 0);
  Status renamed = folder_->Rename("from", "to", RenameMode::kNoReplace);
  chmod(scratch_.path().c_str(), 0755);
  EXPECT_EQ(renamed.message(), "cannot rename " + scratch_.Child("from") + " to " +
                                   scratch_.Child("to") + ": Permission denied");
}

TEST_F(PosixFolderTest, CreateFoldersAcceptsRelativeAndDoubledSlashes) {
  ASSERT_EQ(chdir(scratch_.path().c_str()), 0);
  EXPECT_TRUE(files_->CreateFolders("rel//deeper/").ok());
  struct stat status;
  ASSERT_EQ(stat(scratch_.Child("rel/deeper").c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  ASSERT_EQ(chdir("/"), 0);
}

}  // namespace
}  // namespace quarn
