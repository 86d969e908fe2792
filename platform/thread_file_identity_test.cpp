// A thread that takes a client's file-system identity is refused what the client would be,
// by uid, by gid and by group, while the other threads keep their own; it gets its own
// back; and an identity the kernel does not grant is refused and undone.
#include "platform/thread_file_identity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

constexpr uint32_t kNobody = 65534;
constexpr gid_t kSharingGroup = 4321;

bool CanRead(const std::string& path) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  close(descriptor);
  return true;
}

std::vector<gid_t> ThreadGroups() {
  std::vector<gid_t> groups(static_cast<size_t>(getgroups(0, nullptr)));
  groups.resize(static_cast<size_t>(getgroups(static_cast<int>(groups.size()), groups.data())));
  return groups;
}

// Lowers the calling thread's effective capabilities (the first 32) to those in `keep`.
bool KeepEffectiveCapabilities(uint32_t keep) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective &= keep;
  return syscall(SYS_capset, &header, data) == 0;
}

PeerCredentials Peer(uint32_t uid, uint32_t gid, std::vector<uint32_t> groups = {}) {
  return PeerCredentials{0, uid, gid, std::move(groups)};
}

class ThreadFileIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "taking another identity needs root";
    ASSERT_FALSE(scratch_.path().empty());
    ASSERT_EQ(chmod(scratch_.path().c_str(), 0755), 0);
  }

  // A file owned by root, of `group`, with `mode`.
  std::string RootFile(const std::string& name, mode_t mode, gid_t group = 0) {
    const std::string path = scratch_.Child(name);
    const int descriptor = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, mode);
    EXPECT_GE(descriptor, 0);
    EXPECT_EQ(fchown(descriptor, 0, group), 0);
    EXPECT_EQ(fchmod(descriptor, mode), 0);
    close(descriptor);
    return path;
  }

  ScratchFolder scratch_;
};

TEST_F(ThreadFileIdentityTest, OnlyTheAssumingThreadChangesAndOnlyWhileItHoldsIt) {
  const std::string secret = RootFile("secret", 0600);
  const std::string shared = RootFile("shared", 0644);
  const std::vector<gid_t> groups_before = ThreadGroups();
  ASSERT_TRUE(MayAssumeFileIdentities());

  // Started before the identity is taken: a new thread would inherit it.
  std::promise<void> identity_taken;
  std::future<bool> other_keeps_its_own = std::async(std::launch::async, [&] {
    identity_taken.get_future().wait();
    return CanRead(secret) && ThreadGroups() == groups_before;
  });
  {
    Result<ThreadFileIdentity> identity =
        ThreadFileIdentity::Assume(Peer(kNobody, kNobody, {kSharingGroup}));
    // No ASSERT before the other thread is let go: the test would wait on it for ever.
    EXPECT_TRUE(identity.ok()) << identity.message();
    EXPECT_FALSE(CanRead(secret));
    EXPECT_TRUE(CanRead(shared));
    EXPECT_EQ(ThreadGroups(), std::vector<gid_t>{kSharingGroup});
    identity_taken.set_value();
    EXPECT_TRUE(other_keeps_its_own.get()) << "another thread took the identity too";
  }
  EXPECT_TRUE(CanRead(secret));
  EXPECT_EQ(setfsuid(static_cast<uid_t>(-1)), 0);
  EXPECT_EQ(setfsgid(static_cast<gid_t>(-1)), 0);
  EXPECT_EQ(ThreadGroups(), groups_before);
}

TEST_F(ThreadFileIdentityTest, GidAndGroupsOfThePeerCount) {
  const std::string group_file = RootFile("group", 0640, kSharingGroup);
  struct Case {
    PeerCredentials peer;
    bool readable;
  };
  const Case cases[] = {
      {Peer(kNobody, kNobody, {kSharingGroup}), true},
      {Peer(kNobody, kSharingGroup), true},
      {Peer(kNobody, kNobody, {kNobody}), false},
  };
  for (const Case& c : cases) {
    Result<ThreadFileIdentity> identity = ThreadFileIdentity::Assume(c.peer);
    ASSERT_TRUE(identity.ok()) << identity.message();
    EXPECT_EQ(CanRead(group_file), c.readable) << "gid " << c.peer.gid;
    // Moved, the identity is still held once and given back once.
    ThreadFileIdentity moved = std::move(*identity);
    EXPECT_EQ(CanRead(group_file), c.readable);
    EXPECT_TRUE(moved.Restore().ok());
    EXPECT_TRUE(CanRead(group_file));
  }
}

// A sandboxed root (uid 0, no capability) is refused what its mode bits refuse; a root
// peer that overrides permissions itself is not.
TEST_F(ThreadFileIdentityTest, ARootPeerWithoutOverridingCapabilitiesGetsItsModeBitsOnly) {
  const std::string closed = RootFile("closed", 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t sandboxed = fork();
  ASSERT_GE(sandboxed, 0);
  if (sandboxed == 0) {
    if (!KeepEffectiveCapabilities(0)) _exit(10);
    close(ready[1]);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char end;
  EXPECT_EQ(read(ready[0], &end, 1), 0);  // the child has dropped them
  close(ready[0]);
  for (const auto& [peer, readable] :
       {std::pair{PeerCredentials{static_cast<uint32_t>(sandboxed), 0, 0, {}}, false},
        std::pair{PeerCredentials{static_cast<uint32_t>(getpid()), 0, 0, {}}, true}}) {
    Result<ThreadFileIdentity> identity = ThreadFileIdentity::Assume(peer);
    EXPECT_TRUE(identity.ok()) << identity.message();
    EXPECT_EQ(CanRead(closed), readable) << "pid " << peer.pid;
    if (identity) EXPECT_TRUE(identity->Restore().ok());
    EXPECT_TRUE(CanRead(closed));
  }
  kill(sandboxed, SIGKILL);
  waitpid(sandboxed, nullptr, 0);
}

TEST_F(ThreadFileIdentityTest, AnIdentityTheKernelRefusesIsUndoneAndReported) {
  // A child without CAP_SETUID: its groups and fsgid can change, its fsuid silently not.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!KeepEffectiveCapabilities(~(1u << CAP_SETUID))) _exit(11);
    if (MayAssumeFileIdentities()) _exit(12);
    const std::vector<gid_t> groups_before = ThreadGroups();
    Result<ThreadFileIdentity> identity =
        ThreadFileIdentity::Assume(Peer(kNobody, kNobody, {kSharingGroup}));
    if (identity.ok()) _exit(13);
    if (identity.message() != "cannot take the file-system identity of uid 65534 gid 65534") {
      _exit(14);
    }
    if (setfsuid(static_cast<uid_t>(-1)) != 0 || setfsgid(static_cast<gid_t>(-1)) != 0) {
      _exit(15);
    }
    _exit(ThreadGroups() == groups_before ? 0 : 16);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10-11: setup; 12: capability not seen; 13: taken; "
                                       "14: message; 15: ids not restored; 16: groups";
}

}  // namespace
}  // namespace quarn
