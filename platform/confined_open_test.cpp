// What a client may have scanned by path: regular files and folders, reached without a
// symbolic link, on a file system of data, as far as the client's own rights go; everything
// else refused with a short cause, and never by waiting.
#include "platform/confined_open.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/mount_table.h"
#include "platform/test_support/scratch_folder.h"
#include "platform/thread_file_identity.h"

namespace quarn {
namespace {

class ConfinedOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    ASSERT_EQ(chmod(scratch_.path().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(scratch_.Child("folder").c_str(), 0755), 0);
    file_ = WriteFile("folder/file", "seven b", 0644);
    ASSERT_EQ(symlink("folder", scratch_.Child("folder link").c_str()), 0);
    ASSERT_EQ(symlink("folder/file", scratch_.Child("file link").c_str()), 0);
    ASSERT_EQ(mkfifo(scratch_.Child("fifo").c_str(), 0644), 0);
  }

  std::string WriteFile(const std::string& name, const std::string& content, mode_t mode) {
    const std::string path = scratch_.Child(name);
    const int descriptor = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, mode);
    EXPECT_EQ(write(descriptor, content.data(), content.size()),
              static_cast<ssize_t>(content.size()));
    close(descriptor);
    return path;
  }

  static std::string CauseFor(const std::string& path) {
    Result<ConfinedEntry> entry = OpenConfined(path);
    return entry ? "opened" : entry.message();
  }

  ScratchFolder scratch_;
  std::string file_;
};

TEST_F(ConfinedOpenTest, FilesAndFoldersOpenForReadingAlone) {
  Result<ConfinedEntry> file = OpenConfined(file_);
  ASSERT_TRUE(file.ok()) << file.message();
  EXPECT_EQ(file->kind, ConfinedKind::kFile);
  EXPECT_EQ(file->size, 7u);
  char bytes[8] = {};
  EXPECT_EQ(pread(file->descriptor.get(), bytes, sizeof(bytes), 0), 7);
  EXPECT_STREQ(bytes, "seven b");
  const int flags = fcntl(file->descriptor.get(), F_GETFL);
  EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
  EXPECT_NE(flags & O_NONBLOCK, 0);
  EXPECT_NE(fcntl(file->descriptor.get(), F_GETFD) & FD_CLOEXEC, 0);

  Result<ConfinedEntry> folder = OpenConfined(scratch_.Child("folder"));
  ASSERT_TRUE(folder.ok()) << folder.message();
  EXPECT_EQ(folder->kind, ConfinedKind::kFolder);
  struct stat status {};
  ASSERT_EQ(fstat(folder->descriptor.get(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(fcntl(folder->descriptor.get(), F_GETFL) & O_PATH, 0) << "opened for reading";
}

TEST_F(ConfinedOpenTest, ASymbolicLinkAnywhereInThePathIsRefused) {
  EXPECT_EQ(CauseFor(scratch_.Child("file link")), "Symbolic link in path");
  EXPECT_EQ(CauseFor(scratch_.Child("folder link/file")), "Symbolic link in path");
  EXPECT_EQ(CauseFor(scratch_.Child("folder link")), "Symbolic link in path");
  EXPECT_NE(CauseFor("/proc/self/environ"), "opened");
}

TEST_F(ConfinedOpenTest, WhatIsNotDataIsRefusedWithoutWaiting) {
  std::string fifo_cause;
  EXPECT_TRUE(FinishesWithoutAWriter(scratch_.Child("fifo"),
                                     [&] { fifo_cause = CauseFor(scratch_.Child("fifo")); }));
  EXPECT_EQ(fifo_cause, "Not a regular file");
  EXPECT_EQ(CauseFor("/dev/null"), "Not a regular file");
  EXPECT_EQ(CauseFor("/proc/" + std::to_string(getpid()) + "/environ"), "File system not scanned");
  EXPECT_EQ(CauseFor("/proc"), "File system not scanned");
  EXPECT_EQ(CauseFor("/sys/kernel"), "File system not scanned");
  Result<std::string> mounts = ReadMountInfoText();
  ASSERT_TRUE(mounts.ok());
  for (const MountEntry& mount : ParseMountInfo(*mounts)) {
    if (mount.fs_type == "devtmpfs") {
      EXPECT_EQ(CauseFor(mount.mount_point), "File system not scanned") << mount.mount_point;
    }
  }
}

TEST_F(ConfinedOpenTest, PathsThatLeadNowhereSaySo) {
  EXPECT_EQ(CauseFor("folder/file"), "Path must be absolute");
  EXPECT_EQ(CauseFor(""), "Path must be absolute");
  EXPECT_EQ(CauseFor(scratch_.Child("folder/missing")), "No such file or directory");
}

TEST_F(ConfinedOpenTest, TheClientsOwnRightsDecide) {
  if (geteuid() != 0) GTEST_SKIP() << "taking another identity needs root";
  const std::string secret = WriteFile("folder/secret", "s", 0600);
  ASSERT_EQ(mkdir(scratch_.Child("closed").c_str(), 0700), 0);
  Result<ThreadFileIdentity> nobody = ThreadFileIdentity::Assume({0, 65534, 65534, {}});
  ASSERT_TRUE(nobody.ok()) << nobody.message();
  EXPECT_EQ(CauseFor(secret), "Access denied");
  EXPECT_EQ(CauseFor(scratch_.Child("closed")), "Access denied");
  EXPECT_EQ(CauseFor(file_), "opened") << "the reopening must work for any client";
  EXPECT_EQ(CauseFor(scratch_.Child("folder")), "opened");
  ASSERT_TRUE(nobody->Restore().ok());
  EXPECT_EQ(CauseFor(secret), "opened");
}

TEST_F(ConfinedOpenTest, WithoutProcTheSameIsRefusedAndTheSameOpened) {
  if (geteuid() != 0) GTEST_SKIP() << "hiding /proc needs root";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        umount2("/proc", MNT_DETACH) != 0) {
      _exit(99);
    }
    if (access("/proc/self/fd", F_OK) == 0) _exit(98);
    Result<ConfinedEntry> file = OpenConfined(file_);
    if (!file || file->size != 7) _exit(1);
    if (CauseFor(scratch_.Child("folder")) != "opened") _exit(2);
    if (CauseFor(scratch_.Child("fifo")) != "Not a regular file") _exit(3);
    if (CauseFor(scratch_.Child("folder link/file")) != "Symbolic link in path") _exit(4);
    if (CauseFor(scratch_.Child("file link")) != "Symbolic link in path") _exit(5);
    _exit(0);
  }
  int status = 0;
  EXPECT_TRUE(FinishesWithoutAWriter(scratch_.Child("fifo"), [&] { waitpid(child, &status, 0); }));
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 99) GTEST_SKIP() << "no mount namespace of our own here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "98: /proc still there; else the check that failed";
}

}  // namespace
}  // namespace quarn
