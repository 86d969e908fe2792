#include "daemon/systemd_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

// A datagram socket standing in for systemd's notification socket.
class NotifyListener {
 public:
  explicit NotifyListener(const std::string& path) {
    descriptor_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    bound_ = bind(descriptor_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    timeval wait{5, 0};  // a message that never comes fails the test instead of hanging it
    setsockopt(descriptor_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
  }
  ~NotifyListener() { close(descriptor_); }

  bool bound() const { return bound_; }
  std::string Next() {
    char buffer[512];
    const ssize_t got = recv(descriptor_, buffer, sizeof(buffer), 0);
    return got < 0 ? "(nothing)" : std::string(buffer, static_cast<size_t>(got));
  }

 private:
  int descriptor_ = -1;
  bool bound_ = false;
};

TEST(SystemdLinkTest, TellsTheNotificationSocketEachState) {
  ScratchFolder scratch;
  const std::string path = scratch.Child("notify");
  NotifyListener listener(path);
  ASSERT_TRUE(listener.bound());
  ScopedEnvironment environment;
  environment.Set("NOTIFY_SOCKET", path.c_str());

  NotifyReady();
  EXPECT_EQ(listener.Next(), "READY=1");

  timespec before{};
  clock_gettime(CLOCK_MONOTONIC, &before);
  NotifyReloading();
  const std::string reloading = listener.Next();
  const std::string prefix = "RELOADING=1\nMONOTONIC_USEC=";
  ASSERT_EQ(reloading.substr(0, prefix.size()), prefix) << reloading;
  const unsigned long long stamp = std::strtoull(reloading.c_str() + prefix.size(), nullptr, 10);
  EXPECT_GE(stamp, static_cast<unsigned long long>(before.tv_sec) * 1000000) << reloading;

  NotifyStopping();
  EXPECT_EQ(listener.Next(), "STOPPING=1");
  NotifyStatus("2 scans\nREADY=1");
  EXPECT_EQ(listener.Next(), "STATUS=2 scans READY=1");
}

// Puts `descriptor` at `target` for the test, and whatever was there back afterwards.
class DescriptorAt {
 public:
  DescriptorAt(int descriptor, int target) : target_(target) {
    saved_ = fcntl(target, F_DUPFD_CLOEXEC, 100);
    dup2(descriptor, target);
    close(descriptor);
  }
  ~DescriptorAt() {
    if (saved_ >= 0) {
      dup2(saved_, target_);
      close(saved_);
    } else {
      close(target_);
    }
  }

 private:
  int target_;
  int saved_;
};

int ListeningSocket(int family, int type) {
  const int descriptor = socket(family, type | SOCK_CLOEXEC, 0);
  if (family == AF_INET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  } else {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;  // an unnamed, abstract address is enough to listen
    bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(sa_family_t));
  }
  if (type == SOCK_STREAM) listen(descriptor, 4);
  // Kept clear of the low numbers that DescriptorAt fills.
  const int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, 200);
  close(descriptor);
  return moved;
}

TEST(SystemdLinkTest, TakesThePassedListeningSocketsOnce) {
  DescriptorAt unix_socket(ListeningSocket(AF_UNIX, SOCK_STREAM), 3);
  DescriptorAt tcp_socket(ListeningSocket(AF_INET, SOCK_STREAM), 4);
  DescriptorAt datagram(ListeningSocket(AF_INET, SOCK_DGRAM), 5);
  ScopedEnvironment environment;
  environment.Set("LISTEN_PID", std::to_string(getpid()).c_str());
  environment.Set("LISTEN_FDS", "3");
  environment.Set("LISTEN_FDNAMES", nullptr);

  const std::vector<ActivatedSocket> sockets = TakeActivatedSockets();
  ASSERT_EQ(sockets.size(), 2u);
  EXPECT_EQ(sockets[0].descriptor, 3);
  EXPECT_TRUE(sockets[0].unix_socket);
  EXPECT_EQ(sockets[1].descriptor, 4);
  EXPECT_FALSE(sockets[1].unix_socket);
  EXPECT_EQ(fcntl(5, F_GETFD), -1) << "the datagram socket is closed, not leaked";
  EXPECT_NE(fcntl(3, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(getenv("LISTEN_FDS"), nullptr);
  EXPECT_TRUE(TakeActivatedSockets().empty());
}

TEST(SystemdLinkTest, TakesNothingMeantForAnotherProcess) {
  ScopedEnvironment environment;
  environment.Set("LISTEN_PID", std::to_string(getpid() + 1).c_str());
  environment.Set("LISTEN_FDS", "1");
  EXPECT_TRUE(TakeActivatedSockets().empty());
}

}  // namespace
}  // namespace quarn
