// quarnd's replies byte for byte, over both sockets, and how it starts and stops.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

#include "tests/quarnd_process.h"

namespace quarn::e2e {
namespace {

using namespace std::string_literals;

class QuarndProtocolTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { daemon_ = new QuarndProcess({}, /*tcp=*/true); }
  static void TearDownTestSuite() {
    delete daemon_;
    daemon_ = nullptr;
  }
  static std::string Ask(const std::string& bytes) {
    return Converse(daemon_->socket_path(), bytes);
  }

  static QuarndProcess* daemon_;
};

QuarndProcess* QuarndProtocolTest::daemon_ = nullptr;

TEST_F(QuarndProtocolTest, AnswersInTheFramingOfTheCommand) {
  ASSERT_TRUE(daemon_->running()) << daemon_->Log();
  EXPECT_EQ(Ask("zPING\0"s), "PONG\0"s);
  EXPECT_EQ(Ask("nPING\n"), "PONG\n");
  EXPECT_EQ(Ask("PING"), "PONG\n");
  EXPECT_EQ(Ask("nFOO\n"), "UNKNOWN COMMAND\n");
  const std::string version = Ask("nVERSION\n");
  EXPECT_EQ(std::count(version.begin(), version.end(), '/'), 2) << version;
  EXPECT_EQ(version.rfind("Quarn Explorer ", 0), 0u) << version;
  EXPECT_EQ(Ask("nINSTREAM\n" + Chunks(SampleText("clean.com"))), "stream: OK\n");
  const std::string eicar = Ask("zINSTREAM\0"s + Chunks(SampleText("eicar.com"), 7));
  EXPECT_TRUE(eicar.starts_with("stream: ") && eicar.ends_with(" FOUND\0"s)) << eicar;
  EXPECT_EQ(Ask("nIDSESSION\nnPING\nzPING\0nEND\n"s), "1: PONG\n2: PONG\0"s);
}

TEST_F(QuarndProtocolTest, TcpServesNoPathDescriptorOrControlCommand) {
  const uint16_t port = *daemon_->tcp_port();
  EXPECT_EQ(ConverseTcp(port, "nPING\n"), "PONG\n");
  EXPECT_EQ(ConverseTcp(port, "nINSTREAM\n" + Chunks("hello")), "stream: OK\n");
  for (const std::string command :
       {"nSCAN /etc/passwd\n", "nFILDES\n", "nRELOAD\n", "nSHUTDOWN\n"}) {
    EXPECT_EQ(ConverseTcp(port, command), "COMMAND UNAVAILABLE\n") << command;
  }
}

TEST(QuarndLifeTest, StaleSocketIsReplacedAndTheSocketGoesAtSigterm) {
  ScratchFolder scratch;
  const std::string path = scratch.Child("quarnd.ctl");
  // A socket file nobody listens on, as a daemon killed with -9 leaves it.
  const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(stale);
  {
    QuarndProcess daemon({"LocalSocket " + path});
    ASSERT_TRUE(daemon.running()) << daemon.Log();
    EXPECT_EQ(Converse(path, "nPING\n"), "PONG\n");
    // A second daemon on a live socket refuses to start and leaves it alone.
    QuarndProcess second({"LocalSocket " + path});
    EXPECT_EQ(second.StopWith(0), 2);  // signal 0: only waits for it to give up
    EXPECT_NE(second.Log().find("another daemon is listening"), std::string::npos) << second.Log();
    EXPECT_EQ(Converse(path, "nPING\n"), "PONG\n");
    EXPECT_EQ(daemon.StopWith(SIGTERM), 0);
  }
  struct stat facts {};
  EXPECT_NE(lstat(path.c_str(), &facts), 0);
  std::ofstream(path) << "not a socket";
  QuarndProcess refused({"LocalSocket " + path});
  EXPECT_EQ(refused.StopWith(0), 2);
  EXPECT_NE(refused.Log().find("not a socket"), std::string::npos) << refused.Log();
}

}  // namespace
}  // namespace quarn::e2e
