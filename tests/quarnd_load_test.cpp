// quarnd under load, under hostile and vanishing clients, killed, reloaded and stopped with
// work in flight, and asked for paths by a client of another user: it stays up, every reply
// is right, and every descriptor it took is given back.
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "samplegen/sample_set.h"
#include "tests/quarnd_process.h"

namespace quarn::e2e {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

constexpr char kEicarReply[] = "stream: EICAR-Test-File FOUND";

// A sample streamed with the reply it must get every time.
struct Exchange {
  std::string name;
  std::string request;
  std::string reply;
};

// Every sample as an INSTREAM, with the reply the daemon gives it with nothing else to do;
// that reply is checked against what the sample is made to be.
std::vector<Exchange> SampleExchanges(const QuarndProcess& daemon) {
  std::vector<Exchange> exchanges;
  for (const samples::Sample& sample : samples::BuildSampleSet()) {
    Exchange exchange{
        sample.name, "zINSTREAM\0"s + Chunks({sample.bytes.begin(), sample.bytes.end()}, 4096), {}};
    exchange.reply = Converse(daemon.socket_path(), exchange.request);
    if (sample.name == "eicar.com") {
      EXPECT_EQ(exchange.reply, kEicarReply + "\0"s);
    } else if (sample.expected.virus == 0 && !sample.expected.suspicious) {
      EXPECT_EQ(exchange.reply, "stream: OK\0"s) << sample.name;
    } else {
      EXPECT_TRUE(exchange.reply.starts_with("stream: ") && exchange.reply.ends_with(" FOUND\0"s))
          << sample.name << ": " << exchange.reply;
    }
    exchanges.push_back(std::move(exchange));
  }
  return exchanges;
}

// `count` clients, each streaming the exchanges in turn, one per connection, until stopped.
// A reply other than the one expected is a miss; misses of requests started before
// `StrictFrom` (a window where the daemon is meant to be away) are only counted.
class StreamingClients {
 public:
  StreamingClients(const std::string& socket_path, size_t count, std::vector<Exchange> exchanges)
      : exchanges_(std::move(exchanges)) {
    for (size_t i = 0; i < count; ++i) {
      threads_.emplace_back([this, socket_path, i] { Run(socket_path, i); });
    }
  }
  ~StreamingClients() { Stop(); }

  void Stop() {
    stop_ = true;
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
  }
  void StrictFrom(Clock::time_point from) { strict_from_ = from.time_since_epoch().count(); }
  size_t right() const { return right_; }
  size_t strict_misses() const { return strict_misses_; }
  std::string Misses() {
    std::lock_guard lock(mutex_);
    return misses_;
  }

 private:
  void Run(const std::string& socket_path, size_t first) {
    for (size_t turn = first; !stop_; ++turn) {
      const Exchange& exchange = exchanges_[turn % exchanges_.size()];
      const Clock::time_point started = Clock::now();
      const std::string reply = Converse(socket_path, exchange.request, 20s);
      if (reply == exchange.reply) {
        ++right_;
        continue;
      }
      if (started.time_since_epoch().count() < strict_from_) {
        std::this_thread::sleep_for(10ms);  // the daemon is away: no busy loop meanwhile
        continue;
      }
      ++strict_misses_;
      std::lock_guard lock(mutex_);
      if (misses_.size() < 2000) misses_ += exchange.name + " got [" + reply + "]\n";
    }
  }

  std::vector<Exchange> exchanges_;
  std::vector<std::thread> threads_;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> strict_from_{0};
  std::atomic<size_t> right_{0};
  std::atomic<size_t> strict_misses_{0};
  std::mutex mutex_;
  std::string misses_;
};

// A folder of `count` clean files, which a folder scan takes a while over.
std::string FolderOfFiles(const std::string& path, int count) {
  mkdir(path.c_str(), 0755);
  const std::string clean = SampleBytes("clean.com");
  for (int i = 0; i < count; ++i) {
    std::ofstream(path + "/F" + std::to_string(i) + ".COM", std::ios::binary) << clean;
  }
  return path;
}

// A session asking for `scans` scans of `path`, each slow.
std::string SlowSession(const std::string& path, int scans) {
  std::string bytes = "zIDSESSION\0"s;
  for (int i = 0; i < scans; ++i) bytes += "zCONTSCAN " + path + "\0"s;
  return bytes;
}

void ExpectDescriptorsBackTo(const QuarndProcess& daemon, int start) {
  EXPECT_TRUE(WaitUntil([&] { return daemon.OpenDescriptors() == start; }, 10s))
      << "descriptors: " << daemon.OpenDescriptors() << ", at the start " << start;
}

TEST(QuarndLoadTest, SixtyFourStreamingClientsForThirtySecondsGetRightRepliesAndLeakNothing) {
  QuarndProcess daemon;
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  const std::vector<Exchange> exchanges = SampleExchanges(daemon);
  const int descriptors_at_start = daemon.OpenDescriptors();
  long resident_early = 0;
  long resident_late = 0;
  {
    StreamingClients clients(daemon.socket_path(), 64, exchanges);
    std::this_thread::sleep_for(5s);
    resident_early = daemon.ResidentKiB();
    std::this_thread::sleep_for(25s);
    resident_late = daemon.ResidentKiB();
    clients.Stop();
    EXPECT_EQ(clients.strict_misses(), 0u) << clients.Misses();
    EXPECT_GT(clients.right(), 64u);
    std::printf("%zu streams answered in 30 s; resident %ld KiB after 5 s, %ld KiB after 30 s\n",
                clients.right(), resident_early, resident_late);
  }
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  // Memory that falls back is no leak; memory that keeps growing under a steady load is.
  EXPECT_GT(resident_early, 0);
  EXPECT_LE(resident_late, resident_early + resident_early / 20);
  ExpectDescriptorsBackTo(daemon, descriptors_at_start);
}

// Enough descriptors in this process for a thousand clients and more.
void AllowThousandsOfConnections() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 4096));
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  ASSERT_GE(limit.rlim_cur, 1100u);
}

TEST(QuarndLoadTest, IdleAndTricklingConnectionsDelayNoOtherClient) {
  // Idle connections stay for the whole check rather than being cut at the usual 5 s.
  QuarndProcess daemon({"CommandReadTimeout 60"});
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  AllowThousandsOfConnections();
  const int descriptors_at_start = daemon.OpenDescriptors();

  std::vector<int> idle;
  for (int i = 0; i < 1000; ++i) {
    const int connection = ConnectTo(daemon.socket_path());
    ASSERT_GE(connection, 0) << "connection " << i;
    idle.push_back(connection);
  }
  std::atomic<bool> trickling{true};
  std::thread trickler([&] {
    const int connection = ConnectTo(daemon.socket_path());
    for (int second = 0; second < 20 && trickling; ++second) {
      send(connection, "n", 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(1s);
    }
    close(connection);
  });
  EXPECT_TRUE(
      WaitUntil([&] { return daemon.OpenDescriptors() >= descriptors_at_start + 1001; }, 10s))
      << "the daemon holds " << daemon.OpenDescriptors() << " descriptors";
  std::this_thread::sleep_for(2s);  // the trickler has sent a few bytes
  EXPECT_EQ(Converse(daemon.socket_path(), "nPING\n", 5s), "PONG\n");
  EXPECT_EQ(Converse(daemon.socket_path(), "zINSTREAM\0"s + Chunks(SampleBytes("eicar.com")), 5s),
            kEicarReply + "\0"s);
  EXPECT_GE(daemon.OpenDescriptors(), descriptors_at_start + 1000) << "idle connections were cut";
  trickling = false;
  trickler.join();
  for (int connection : idle) close(connection);
  ExpectDescriptorsBackTo(daemon, descriptors_at_start);
}

// A thousand clients ask for long replies and never read them: each is cut once its socket
// has taken nothing for SendBufTimeout, and the memory their replies held is given back.
TEST(QuarndLoadTest, ClientsThatNeverReadTheirRepliesAreCutAndTheirMemoryReturns) {
  QuarndProcess daemon;
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  AllowThousandsOfConnections();
  const int descriptors_at_start = daemon.OpenDescriptors();
  const long resident_at_start = daemon.ResidentKiB();
  // 14 KB of commands whose replies come to half a megabyte.
  std::string flood = "zIDSESSION\0"s;
  for (int i = 0; i < 2000; ++i) flood += "zSTATS\0"s;
  std::vector<int> silent;
  long resident_peak = 0;
  for (int i = 0; i < 1000; ++i) {
    const int connection = ConnectTo(daemon.socket_path());
    ASSERT_GE(connection, 0) << "connection " << i;
    ASSERT_TRUE(SendBytes(connection, flood));
    silent.push_back(connection);
    if (i % 100 == 0) resident_peak = std::max(resident_peak, daemon.ResidentKiB());
  }
  EXPECT_TRUE(WaitUntil(
      [&] {
        resident_peak = std::max(resident_peak, daemon.ResidentKiB());
        return daemon.OpenDescriptors() == descriptors_at_start;
      },
      30s))
      << "the daemon still holds " << daemon.OpenDescriptors() - descriptors_at_start
      << " of the clients that read nothing";
  const long resident_after = daemon.ResidentKiB();
  std::printf(
      "1000 clients that read nothing: resident %ld KiB at the start, %ld KiB at the "
      "peak, %ld KiB once they were cut\n",
      resident_at_start, resident_peak, resident_after);
  EXPECT_LE(resident_after, resident_at_start + 16 * 1024);
  EXPECT_EQ(Converse(daemon.socket_path(), "nPING\n"), "PONG\n");
  for (int connection : silent) close(connection);
  ASSERT_TRUE(daemon.running()) << daemon.Log();
}

// CPU time the process `pid` has used so far, all its threads together.
std::chrono::milliseconds CpuTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The fields after the command's name, which ends with the last ')': state is the first,
  // utime the twelfth and stime the thirteenth.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 1; i <= 13 && fields >> field; ++i) {
    if (i >= 12) ticks += std::stol(field);
  }
  return std::chrono::milliseconds(ticks * 1000 / sysconf(_SC_CLK_TCK));
}

// Out of descriptors, the daemon waits for one to be freed without spinning, and then serves
// again: the connections that waited meanwhile, and a new client.
TEST(QuarndLoadTest, OutOfDescriptorsItWaitsIdleAndServesOnceOneIsFree) {
  QuarndProcess daemon({"CommandReadTimeout 60"});
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  const int descriptors_at_start = daemon.OpenDescriptors();
  const rlim_t most = static_cast<rlim_t>(descriptors_at_start) + 8;
  const rlimit low{most, most};
  ASSERT_EQ(prlimit(daemon.pid(), RLIMIT_NOFILE, &low, nullptr), 0);
  std::vector<int> held;
  for (int i = 0; i < 20; ++i) held.push_back(ConnectTo(daemon.socket_path()));
  ASSERT_TRUE(WaitUntil(
      [&] { return daemon.Log().find("cannot accept a connection") != std::string::npos; }, 10s))
      << daemon.OpenDescriptors() << " descriptors";
  const std::chrono::milliseconds cpu_before = CpuTime(daemon.pid());
  std::this_thread::sleep_for(2s);
  const std::chrono::milliseconds used = CpuTime(daemon.pid()) - cpu_before;
  EXPECT_LT(used, 400ms) << "the daemon spun while waiting for a descriptor";
  for (int connection : held) close(connection);
  EXPECT_EQ(Converse(daemon.socket_path(), "nPING\n", 10s), "PONG\n");
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  ExpectDescriptorsBackTo(daemon, descriptors_at_start);
}

TEST(QuarndLoadTest, MalformedCommandsAndLongSessionsAreAnsweredAndLeakNothing) {
  QuarndProcess daemon;
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  const int descriptors_at_start = daemon.OpenDescriptors();
  const std::string eicar = Chunks(SampleBytes("eicar.com"));
  const struct {
    std::string sent;
    std::string reply;
  } cases[] = {
      {"n" + std::string(200000, 'A'), "UNKNOWN COMMAND\n"},
      {"z" + std::string(200000, 'A'), "UNKNOWN COMMAND\0"s},
      {std::string(200000, 'A'), "UNKNOWN COMMAND\n"},
      {std::string(4, '\0'), "UNKNOWN COMMAND\n"},
      {"nSCAN\n", "UNKNOWN COMMAND\n"},
      {"INSTREAM", "UNKNOWN COMMAND\n"},
      {"zIDSESSION\0zIDSESSION\0"s, "1: Command invalid inside IDSESSION. ERROR\0"s},
      {"zINSTREAM\0\xff\xff\xff\xff"s + std::string(1000, 'x'),
       "INSTREAM size limit exceeded. ERROR\0"s},
      {"zIDSESSION\0zINSTREAM\0\xff\xff\xff\xff"s + std::string(1000, 'x'),
       "1: INSTREAM size limit exceeded. ERROR\0"s},
      {"nINSTREAM\n" + eicar.substr(0, eicar.size() - 4) + "\xff\xff\xff\xff",
       "INSTREAM size limit exceeded. ERROR\n"},
  };
  for (const auto& one : cases) {
    EXPECT_EQ(Converse(daemon.socket_path(), one.sent), one.reply) << one.sent.substr(0, 40);
  }

  // One session of 10,000 commands, a stream among every hundred.
  std::string session = "zIDSESSION\0"s;
  for (int i = 1; i <= 10000; ++i) session += i % 100 == 0 ? "zINSTREAM\0"s + eicar : "zPING\0"s;
  const std::vector<std::string> replies =
      SplitOn(Converse(daemon.socket_path(), session + "zEND\0"s, 30s), '\0');
  ASSERT_EQ(replies.size(), 10000u) << (replies.empty() ? "" : replies.back());
  std::vector<bool> seen(10001, false);
  for (const std::string& reply : replies) {
    const size_t colon = reply.find(": ");
    ASSERT_NE(colon, std::string::npos) << reply;
    const int id = std::stoi(reply.substr(0, colon));
    ASSERT_TRUE(id >= 1 && id <= 10000 && !seen[id]) << reply;
    seen[id] = true;
    EXPECT_EQ(reply.substr(colon + 2), id % 100 == 0 ? kEicarReply : "PONG") << reply;
  }
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  ExpectDescriptorsBackTo(daemon, descriptors_at_start);
}

TEST(QuarndLoadTest, ClientsThatGoAwayMidStreamMidSessionOrMidReplyCostNothingFurther) {
  QuarndProcess daemon;
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  const std::string folder = FolderOfFiles(daemon.folder() + "/many", 1500);
  const int descriptors_at_start = daemon.OpenDescriptors();
  const std::string eicar = "zINSTREAM\0"s + Chunks(SampleBytes("eicar.com"));
  const std::string half_stream = "zINSTREAM\0\0\0\x10\0"s + std::string(2000, 'x');
  std::vector<int> leaving;
  for (int i = 0; i < 20; ++i) {
    for (const std::string& bytes : {half_stream, "zIDSESSION\0zPING\0"s + half_stream}) {
      const int connection = ConnectTo(daemon.socket_path());
      ASSERT_GE(connection, 0);
      send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      leaving.push_back(connection);
    }
    // Sixteen scans asked, and the client gone at the first reply, the others in flight.
    const int connection = ConnectTo(daemon.socket_path());
    ASSERT_GE(connection, 0);
    const std::string session = SlowSession(folder, 16);
    send(connection, session.data(), session.size(), MSG_NOSIGNAL);
    pollfd reply{connection, POLLIN, 0};
    EXPECT_EQ(poll(&reply, 1, 10000), 1);
    close(connection);
  }
  for (int connection : leaving) close(connection);
  EXPECT_EQ(Converse(daemon.socket_path(), eicar, 10s), kEicarReply + "\0"s);
  EXPECT_EQ(Converse(daemon.socket_path(), "nPING\n"), "PONG\n");
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  ExpectDescriptorsBackTo(daemon, descriptors_at_start);
}

TEST(QuarndLoadTest, ReloadUnderLoadDropsNoConnectionAndAKillRestartsOnTheStaleSocket) {
  QuarndProcess daemon;
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  StreamingClients clients(daemon.socket_path(), 16, SampleExchanges(daemon));
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(Converse(daemon.socket_path(), "nRELOAD\n"), "RELOADING\n");
  kill(daemon.pid(), SIGUSR2);  // during the reload, or a second one
  EXPECT_TRUE(WaitUntil(
      [&] { return daemon.Log().find("Database correctly reloaded") != std::string::npos; }, 20s))
      << daemon.Log();
  EXPECT_EQ(Converse(daemon.socket_path(), "nRELOAD\n"), "RELOADING\n");
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(clients.strict_misses(), 0u) << clients.Misses();
  EXPECT_GT(clients.right(), 16u);
  ASSERT_TRUE(daemon.running()) << daemon.Log();

  clients.StrictFrom(Clock::now() + 24h);  // while it is away, replies are missing
  EXPECT_EQ(daemon.StopWith(SIGKILL), -1);
  struct stat facts {};
  ASSERT_EQ(lstat(daemon.socket_path().c_str(), &facts), 0) << "the socket file stays";
  ASSERT_TRUE(daemon.Restart()) << daemon.Log();
  clients.StrictFrom(Clock::now());
  const size_t right_before = clients.right();
  std::this_thread::sleep_for(2s);
  clients.Stop();
  EXPECT_EQ(clients.strict_misses(), 0u) << clients.Misses();
  EXPECT_GT(clients.right(), right_before + 16);
}

TEST(QuarndLoadTest, SigtermWithWorkInFlightEndsWithinTenSecondsAndRemovesTheSocket) {
  QuarndProcess daemon;
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  const std::string folder = FolderOfFiles(daemon.folder() + "/many", 1500);
  StreamingClients clients(daemon.socket_path(), 16, SampleExchanges(daemon));
  // Folder scans asked again and again, so some are running or queued at the signal.
  std::atomic<bool> asking{true};
  std::vector<std::thread> slow;
  for (int i = 0; i < 8; ++i) {
    slow.emplace_back([&] {
      while (asking) Converse(daemon.socket_path(), SlowSession(folder, 16) + "zEND\0"s, 30s);
    });
  }
  std::this_thread::sleep_for(1s);
  const Clock::time_point signalled = Clock::now();
  kill(daemon.pid(), SIGTERM);
  // The clients stop asking at once: spinning on a refused socket would starve the scans.
  asking = false;
  clients.Stop();
  for (std::thread& thread : slow) thread.join();
  EXPECT_EQ(daemon.StopWith(0, 20s), 0) << daemon.Log();
  const auto took = Clock::now() - signalled;
  EXPECT_LT(took, 10s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                       << " ms";
  struct stat facts {};
  EXPECT_NE(lstat(daemon.socket_path().c_str(), &facts), 0) << "the socket file is left";
}

// Runs `client` as uid and gid 65534 with the one supplementary group kNobodysGroup in a
// child process; what it returns.
constexpr gid_t kNobodysGroup = 4242;
std::string AsNobody(const std::function<std::string()>& client) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return "<NO PIPE>";
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    if (setgroups(1, &kNobodysGroup) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0) {
      _exit(1);
    }
    const std::string said = client();
    [[maybe_unused]] const ssize_t written = write(pipe_ends[1], said.data(), said.size());
    _exit(0);
  }
  close(pipe_ends[1]);
  std::string said;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "<CHILD FAILED>";
  return said;
}

TEST(QuarndLoadTest, PathCommandsOfAnotherUserAreAnsweredWithItsOwnRights) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  QuarndProcess daemon({"LocalSocketMode 666"});
  ASSERT_TRUE(daemon.running()) << daemon.Log();
  ScratchFolder scratch;
  ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(daemon.folder().c_str(), 0755), 0);
  const std::string eicar = SampleBytes("eicar.com");
  const std::string files = scratch.Child("files");
  mkdir(files.c_str(), 0755);
  mkdir((files + "/sub").c_str(), 0755);
  for (const char* name : {"/readable.com", "/secret.com", "/sub/eicar.com", "/group.com"}) {
    std::ofstream(files + name, std::ios::binary) << eicar;
    chmod((files + name).c_str(), 0644);
  }
  chmod((files + "/secret.com").c_str(), 0600);
  // Readable by a supplementary group only: the daemon takes the peer's groups too.
  ASSERT_EQ(chown((files + "/group.com").c_str(), 0, kNobodysGroup), 0);
  chmod((files + "/group.com").c_str(), 0640);
  ASSERT_EQ(symlink((files + "/readable.com").c_str(), (files + "/link.com").c_str()), 0);
  ASSERT_EQ(symlink((files + "/sub").c_str(), (files + "/linked_sub").c_str()), 0);
  mkfifo((files + "/fifo").c_str(), 0666);

  const std::string socket_path = daemon.socket_path();
  const std::vector<std::string> refused = {files + "/secret.com", files + "/link.com",
                                            files + "/linked_sub/eicar.com", files + "/fifo",
                                            "/proc/self/environ"};
  const auto nobody_client = [&] {
    std::string said;
    for (const std::string& path : refused)
      said += Converse(socket_path, "nSCAN " + path + "\n") + '\0';
    // A folder scan tells each entry it cannot read, as the ClamAV daemon does, and goes on.
    said += Converse(socket_path, "nCONTSCAN " + files + "\n") + '\0';
    said += Converse(socket_path, "nSCAN " + files + "/group.com\n") + '\0';
    return said + Converse(socket_path, "nSCAN " + files + "/readable.com\n");
  };
  const std::vector<std::string> replies = SplitOn(AsNobody(nobody_client), '\0');
  ASSERT_EQ(replies.size(), refused.size() + 3) << replies.front();
  EXPECT_EQ(replies[refused.size() + 1], files + "/group.com: EICAR-Test-File FOUND\n");
  const std::string& walked = replies[refused.size()];
  EXPECT_NE(walked.find(files + "/secret.com: Access denied. ERROR\n"), std::string::npos)
      << walked;
  EXPECT_NE(walked.find(files + "/sub/eicar.com: EICAR-Test-File FOUND\n"), std::string::npos)
      << walked;
  for (size_t i = 0; i < refused.size(); ++i) {
    EXPECT_TRUE(replies[i].starts_with(refused[i] + ": ") && replies[i].ends_with(" ERROR\n"))
        << replies[i];
  }
  EXPECT_EQ(replies.back(), files + "/readable.com: EICAR-Test-File FOUND\n");
  // The same file refused to that user is found for its owner: the refusal was the rights'.
  EXPECT_EQ(Converse(socket_path, "nSCAN " + files + "/secret.com\n"),
            files + "/secret.com: EICAR-Test-File FOUND\n");
  EXPECT_EQ(Converse(socket_path, "nPING\n"), "PONG\n");
}

// A file system mounted for the length of a test.
class Mounted {
 public:
  Mounted(const std::string& type, const std::string& at) : at_(at) {
    mkdir(at.c_str(), 0755);
    if (mount(type.c_str(), at.c_str(), type.c_str(), 0, nullptr) != 0) error_ = errno;
  }
  ~Mounted() {
    if (error_ == 0) umount2(at_.c_str(), MNT_DETACH);
  }
  int error() const { return error_; }

 private:
  std::string at_;
  int error_ = 0;
};

// As the ClamAV daemon's CrossFilesystems (yes unless told no): a folder scan goes into a
// tmpfs mounted below the folder, never into the kernel's interfaces (proc) mounted there.
TEST(QuarndLoadTest, FolderScansCrossMountPointsUnlessToldNot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
  ScratchFolder scratch;
  const std::string tree = scratch.Child("tree");
  mkdir(tree.c_str(), 0755);
  const Mounted tmpfs("tmpfs", tree + "/mnt");
  if (tmpfs.error() != 0) GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(tmpfs.error());
  const Mounted proc("proc", tree + "/proc");
  if (proc.error() != 0) GTEST_SKIP() << "cannot mount proc: " << std::strerror(proc.error());
  WriteFile(tree + "/mnt/sub/e.com", SampleBytes("eicar.com"));
  const std::string command = "nCONTSCAN " + tree + "\n";
  {
    QuarndProcess crossing;
    ASSERT_TRUE(crossing.running()) << crossing.Log();
    EXPECT_EQ(Converse(crossing.socket_path(), command),
              tree + "/mnt/sub/e.com: EICAR-Test-File FOUND\n");
  }
  QuarndProcess staying({"CrossFilesystems no"});
  ASSERT_TRUE(staying.running()) << staying.Log();
  EXPECT_EQ(Converse(staying.socket_path(), command), tree + ": OK\n");
}

}  // namespace
}  // namespace quarn::e2e
