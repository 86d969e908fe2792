// What quarnd serves over TCP, and how it starts and stops.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "containers/test_support/arj_writer.h"
#include "platform/local_socket.h"
#include "tests/quarnd_process.h"

namespace quarn::e2e {
namespace {

using namespace std::string_literals;

TEST(QuarndProtocolTest, TcpServesNoPathDescriptorOrControlCommand) {
  QuarndProcess daemon({}, /*tcp=*/true);
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  const uint16_t port = *daemon.tcp_port();
  EXPECT_EQ(ConverseTcp(port, "nPING\n"), "PONG\n");
  EXPECT_EQ(ConverseTcp(port, "nINSTREAM\n" + Chunks("hello")), "stream: OK\n");
  EXPECT_EQ(ConverseTcp(port, "nSCAN /etc/passwd\r\n"), "/etc/passwd: Access denied. ERROR\n");
  const std::string listed = ConverseTcp(port, "nVERSIONCOMMANDS\n");
  EXPECT_NE(listed.find("| COMMANDS: PING VERSIONCOMMANDS VERSION END STATS IDSESSION INSTREAM\n"),
            std::string::npos)
      << listed;
  EXPECT_NE(Converse(daemon.socket_path(), "nVERSIONCOMMANDS\n")
                .find("| COMMANDS: SCAN RELOAD PING CONTSCAN VERSIONCOMMANDS VERSION END SHUTDOWN "
                      "MULTISCAN FILDES STATS IDSESSION INSTREAM ALLMATCHSCAN\n"),
            std::string::npos);
}

// The extractor's copy of an ARJ archive is a temporary file: it is made in the configured
// folder whatever $TMPDIR says, and none to be had there is an error, never an OK. A session's
// scans that one thread finishes one after another are answered in their order, each reply
// whole, however many go out in one write.
TEST(QuarndProtocolTest, ArchiveTemporariesGoToTheTemporaryDirectoryAndTheirLackIsAnError) {
  const std::string eicar = SampleBytes("eicar.com");
  const std::vector<uint8_t> arj =
      testing::ArjWriter().Add("EICAR.COM", {eicar.begin(), eicar.end()}).Build();
  const std::string sent = "nINSTREAM\n" + Chunks({arj.begin(), arj.end()});
  ScratchFolder scratch;
  const char* kept = getenv("TMPDIR");
  const std::string before = kept != nullptr ? kept : "";
  setenv("TMPDIR", scratch.Child("gone").c_str(), 1);
  const std::string in_session = "zINSTREAM\0"s + Chunks({arj.begin(), arj.end()});
  std::string configured, missing, session;
  {
    QuarndProcess daemon({"TemporaryDirectory " + scratch.path(), "MaxThreads 1"});
    configured = Converse(daemon.socket_path(), sent);
    session = Converse(daemon.socket_path(), "zIDSESSION\0"s + in_session + "zINSTREAM\0"s +
                                                 Chunks(std::string(70000, 'x')) + in_session +
                                                 in_session + "zEND\0"s);
  }
  {
    QuarndProcess daemon({"TemporaryDirectory " + scratch.Child("none")});
    missing = Converse(daemon.socket_path(), sent);
  }
  kept != nullptr ? setenv("TMPDIR", before.c_str(), 1) : unsetenv("TMPDIR");
  EXPECT_EQ(configured, "stream: EICAR-Test-File FOUND\n");
  EXPECT_EQ(missing, "stream: Can't create temporary file or process. ERROR\n");
  EXPECT_EQ(session,
            "1: stream: EICAR-Test-File FOUND\0"
            "2: stream: OK\0"
            "3: stream: EICAR-Test-File FOUND\0"
            "4: stream: EICAR-Test-File FOUND\0"s);
}

std::string FileText(const std::string& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Each detection is logged with what was scanned and the client that asked; SIGHUP opens the
// log's path anew, as logrotate expects after moving the file away.
TEST(QuarndLifeTest, DetectionsAreLoggedWithTheirClientAndSighupReopensTheLog) {
  QuarndProcess daemon({}, /*tcp=*/true);
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  const std::string eicar = SampleBytes("eicar.com");
  const std::string file = daemon.folder() + "/e.com";
  WriteFile(file, eicar);
  const std::string stream = "nINSTREAM\n" + Chunks(eicar);
  const std::string found = ": EICAR-Test-File FOUND\n";
  ASSERT_EQ(ConverseTcp(*daemon.tcp_port(), stream), "stream" + found);
  ASSERT_EQ(Converse(daemon.socket_path(), "nSCAN " + file + "\n"), file + found);
  const std::string log = daemon.folder() + "/quarnd.log";
  ASSERT_EQ(rename(log.c_str(), (log + ".1").c_str()), 0);
  kill(daemon.pid(), SIGHUP);
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(log); }, std::chrono::seconds(5)));
  ASSERT_EQ(Converse(daemon.socket_path(), stream), "stream" + found);
  const std::string before = FileText(log + ".1");
  EXPECT_NE(before.find("-> instream(127.0.0.1@"), std::string::npos) << before;
  EXPECT_NE(before.find("-> " + file + found), std::string::npos) << before;
  const std::string after = FileText(log);
  EXPECT_NE(after.find("-> instream(local, pid " + std::to_string(getpid()) + ", uid " +
                       std::to_string(geteuid()) + ")" + found),
            std::string::npos)
      << after;
  EXPECT_TRUE(daemon.running());
}

// What a shell runs: its exit status and what it wrote, standard error included.
std::pair<int, std::string> RunShell(const std::string& command) {
  FILE* pipe = popen(("bash -c '" + command + "' 2>&1").c_str(), "r");
  std::string output;
  char block[4096];
  for (size_t got; (got = fread(block, 1, sizeof block, pipe)) > 0;) output.append(block, got);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(QuarndLifeTest, TakesItsConfigurationUnderClamdsOptionNameAndFromAPipe) {
  const std::string quarnd = BuiltProgram("quarnd");
  const auto [status, output] = RunShell(quarnd + " --config-file <(echo DatabaseDirectory " +
                                         QUARN_DATA_DIR + ") --version");
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output.rfind("quarnd ", 0), 0u) << output;
  ScratchFolder scratch;
  const auto [refused, cause] =
      RunShell("cd " + scratch.path() + " && " + quarnd +
               " --foreground --config <(printf \"#\\\\nLocalSocket quarnd.ctl\\\\n\")");
  EXPECT_EQ(refused, 2) << cause;
  EXPECT_NE(cause.find(", line 2: LocalSocket: 'quarnd.ctl' is not an absolute path"),
            std::string::npos)
      << cause;
  EXPECT_FALSE(std::filesystem::exists(scratch.Child("quarnd.ctl")));
}

TEST(QuarndLifeTest, StaleSocketIsReplacedAndTheSocketGoesAtSigterm) {
  ScratchFolder scratch;
  const std::string path = scratch.Child("quarnd.ctl");
  // A socket file nobody listens on, as a daemon killed with -9 leaves it.
  const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  const sockaddr_un address = *LocalSocketAddress(path);
  ASSERT_EQ(bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
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

// What systemd does for quarnd.socket and Type=notify: a listening socket at descriptor 3 with
// LISTEN_FDS and LISTEN_PID, and a datagram socket in NOTIFY_SOCKET for the states.
TEST(QuarndLifeTest, TakesTheSocketSystemdPassesAndTellsItsStates) {
  ScratchFolder scratch;
  const auto bound = [](int type, const std::string& path) {
    const int descriptor = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    const sockaddr_un address = *LocalSocketAddress(path);
    EXPECT_EQ(bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return descriptor;
  };
  const std::string activated = scratch.Child("activated.ctl");
  const int listener = bound(SOCK_STREAM, activated);
  ASSERT_EQ(listen(listener, 16), 0);
  const int notify = bound(SOCK_DGRAM, scratch.Child("notify"));
  const timeval wait{20, 0};
  setsockopt(notify, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  const std::string config = scratch.Child("quarnd.conf");
  std::ofstream(config) << "LocalSocket " << scratch.Child("own.ctl") << "\nDatabaseDirectory "
                        << QUARN_DATA_DIR << "\nMaxThreads 1\n";
  const pid_t pid = fork();
  if (pid == 0) {
    if (listener == 3) {
      fcntl(3, F_SETFD, 0);
    } else {
      dup2(listener, 3);  // the copy is not closed on exec
    }
    setenv("LISTEN_FDS", "1", 1);
    setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    setenv("NOTIFY_SOCKET", scratch.Child("notify").c_str(), 1);
    const std::string program = BuiltProgram("quarnd");
    execl(program.c_str(), "quarnd", "--foreground", "--config", config.c_str(), nullptr);
    _exit(127);
  }
  close(listener);
  const auto next_state = [&] {
    char message[256];
    const ssize_t got = recv(notify, message, sizeof message, 0);
    return got > 0 ? std::string(message, static_cast<size_t>(got)) : std::string("<none>");
  };
  EXPECT_EQ(next_state(), "READY=1");
  EXPECT_EQ(Converse(activated, "nPING\n"), "PONG\n");
  kill(pid, SIGUSR2);
  EXPECT_TRUE(next_state().starts_with("RELOADING=1"));
  EXPECT_EQ(next_state(), "READY=1");
  EXPECT_EQ(Converse(activated, "nPING\n"), "PONG\n");
  kill(pid, SIGTERM);
  EXPECT_EQ(next_state(), "STOPPING=1");
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(notify);
  struct stat facts {};
  EXPECT_NE(lstat(scratch.Child("own.ctl").c_str(), &facts), 0);  // never made
  EXPECT_EQ(lstat(activated.c_str(), &facts), 0);                 // systemd's, left alone
}

}  // namespace
}  // namespace quarn::e2e
