// The kernel's record of who connected: our own ids over a socket pair, and those of a child
// that took other ids, with more groups than the first guess at their number holds.
#include "platform/peer_credentials.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/unique_descriptor.h"

namespace quarn {
namespace {

std::vector<uint32_t> Sorted(std::vector<uint32_t> groups) {
  std::sort(groups.begin(), groups.end());
  return groups;
}

TEST(PeerCredentialsTest, ASocketPairShowsOurOwnIds) {
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  UniqueDescriptor ours(ends[0]), theirs(ends[1]);
  Result<PeerCredentials> peer = ReadPeerCredentials(ours.get());
  ASSERT_TRUE(peer.ok()) << peer.message();
  EXPECT_EQ(peer->pid, static_cast<uint32_t>(getpid()));
  EXPECT_EQ(peer->uid, geteuid());
  EXPECT_EQ(peer->gid, getegid());
  std::vector<gid_t> groups(static_cast<size_t>(getgroups(0, nullptr)));
  groups.resize(static_cast<size_t>(getgroups(static_cast<int>(groups.size()), groups.data())));
  EXPECT_EQ(Sorted(peer->groups), Sorted({groups.begin(), groups.end()}));
}

TEST(PeerCredentialsTest, AClientThatTookOtherIdsIsSeenWithThemAndAllItsGroups) {
  if (geteuid() != 0) GTEST_SKIP() << "taking other ids needs root";
  UniqueDescriptor listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // An abstract name: no file a client of another uid would need permission for.
  const std::string name = "quarn-peer-test-" + std::to_string(getpid());
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener.get(), 1), 0);

  // More than the 16 groups the first read makes room for.
  std::vector<gid_t> groups = {65534};
  for (gid_t group = 4200; group < 4220; ++group) groups.push_back(group);
  // The child holds the write end while it lives, so the server sees it end if it never
  // connects rather than waiting for a connection.
  int alive[2];
  ASSERT_EQ(pipe2(alive, O_CLOEXEC), 0);
  UniqueDescriptor child_gone(alive[0]), child_alive(alive[1]);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    child_gone.Close();
    UniqueDescriptor client(socket(AF_UNIX, SOCK_STREAM, 0));
    if (setgroups(groups.size(), groups.data()) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0 ||
        connect(client.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) {
      _exit(1);
    }
    char byte;
    (void)!read(client.get(), &byte, 1);  // stays until the server has looked
    _exit(0);
  }
  child_alive.Close();
  pollfd waiting[] = {{listener.get(), POLLIN, 0}, {child_gone.get(), POLLIN, 0}};
  while (poll(waiting, 2, -1) < 0 && errno == EINTR) {
  }
  UniqueDescriptor connection(
      waiting[0].revents != 0 ? accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC) : -1);
  Result<PeerCredentials> peer = ReadPeerCredentials(connection.get());
  connection.Close();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0) << "the child could not take its ids or connect";
  ASSERT_TRUE(peer.ok()) << peer.message();
  EXPECT_EQ(peer->pid, static_cast<uint32_t>(child));
  EXPECT_EQ(peer->uid, 65534u);
  EXPECT_EQ(peer->gid, 65534u);
  EXPECT_EQ(Sorted(peer->groups), Sorted({groups.begin(), groups.end()}));
}

TEST(PeerCredentialsTest, AFailureNamesTheCause) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  UniqueDescriptor reading(pipe_ends[0]), writing(pipe_ends[1]);
  Result<PeerCredentials> peer = ReadPeerCredentials(reading.get());
  ASSERT_FALSE(peer.ok());
  EXPECT_EQ(peer.message(), "peer credentials: Socket operation on non-socket");
}

}  // namespace
}  // namespace quarn
