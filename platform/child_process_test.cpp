// A child process as the extractor is run: nothing of ours reaches it but the input as
// descriptor 3 (no environment, no other descriptor), it runs in a group of its own under
// the limits asked for, and it is killed at the time and output limits.
#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <unistd.h>


#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

constexpr const char* kShell = "/bin/sh";

std::string OutputOf(const std::vector<std::string>& arguments, const ChildLimits& limits = {},
                     const std::string& input = "") {
  std::shared_ptr<ChildInput> copy;
  if (!input.empty()) {
    MemoryFileSystem files;
    EXPECT_TRUE(files.AddFile("/input", std::vector<uint8_t>(input.begin(), input.end())).ok());
    auto file = (*files.OpenFolder("/"))->OpenFile("input", OpenMode::kRead);
    Result<std::shared_ptr<ChildInput>> made = ChildInput::CopyOf(**file, 1 << 20);
    EXPECT_TRUE(made.ok()) << made.message();
    if (made) copy = *made;
  }
  Result<std::unique_ptr<ChildProcess>> child =
      ChildProcess::Start(kShell, arguments, copy, limits);
  EXPECT_TRUE(child.ok()) << child.message();
  if (!child) return "";
  std::string out;
  EXPECT_TRUE((*child)->ReadAll(out).ok());
  EXPECT_EQ((*child)->Wait(), 0) << out;
  return out;
}

TEST(ChildProcessTest, OnlyTheInputReachesTheChildAndItRunsUnderItsLimits) {
  ASSERT_TRUE(ChildProcess::CanRun(kShell));
  setenv("QUARN_SECRET", "x", 1);
  ChildLimits limits;
  limits.memory_bytes = uint64_t{300} << 20;
  limits.cpu_seconds = 7;
  const std::string out =
      OutputOf({"-c",
                "env; echo fds $(ls /proc/self/fd | sort -n | tr '\\n' ' '); cat /dev/fd/3; echo; "
                "echo limits $(ulimit -v) $(ulimit -t) $(ulimit -f); "
                "echo group $(($(cut -d' ' -f5 /proc/self/stat) == $$))"},
               limits, "archive bytes");
  unsetenv("QUARN_SECRET");
  EXPECT_EQ(out.find("QUARN_SECRET"), std::string::npos) << out;
  // 0, 1, 2, 3 and the one ls opens to list them.
  EXPECT_NE(out.find("fds 0 1 2 3 4\n"), std::string::npos) << out;
  EXPECT_NE(out.find("archive bytes\n"), std::string::npos) << out;
  EXPECT_NE(out.find("limits 307200 7 0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("group 1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("PWD=/\n"), std::string::npos) << "it runs in the root folder: " << out;
}

// An extractor reads hostile bytes: it holds no capability, cannot gain one, opens no
// socket, and runs as an unprivileged identity when this process has one to give. The copy
// it reads may belong to someone else (a daemon's client): it is read all the same.
TEST(ChildProcessTest, TheChildIsConfinedAndReadsItsInputUnderItsOwnIdentity) {
  const bool root = geteuid() == 0;
  if (root) setfsuid(4242);  // the copy is made as a client of the daemon makes it
  const std::string out =
      OutputOf({"-c",
                "grep -E '^(Uid|Gid|Groups|Cap(Inh|Prm|Eff|Bnd|Amb)|NoNewPrivs|Seccomp):' "
                "/proc/self/status | tr -s '\t ' ' '; cat /dev/fd/3; echo; "
                "python3 -c 'import socket; socket.socket()' 2>/dev/null || echo no network"},
               {}, "archive bytes");
  if (root) setfsuid(0);
  EXPECT_NE(out.find("NoNewPrivs: 1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Seccomp: 2\n"), std::string::npos) << out;
  EXPECT_NE(out.find("archive bytes\n"), std::string::npos) << out;
  EXPECT_NE(out.find("no network\n"), std::string::npos) << out;
  for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"}) {
    EXPECT_NE(out.find(std::string(set) + ": 0000000000000000\n"), std::string::npos) << out;
  }
  if (!root) GTEST_SKIP() << "the identity and bounding set are checked as root only";
  EXPECT_NE(out.find("CapBnd: 0000000000000000\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Uid: 0 "), std::string::npos) << out;
  EXPECT_EQ(out.find("Gid: 0 "), std::string::npos) << out;
  EXPECT_NE(out.find("Groups: \n"), std::string::npos) << out;
}

TEST(ChildProcessTest, TheTimeAndOutputLimitsKillIt) {
  ChildLimits quick;
  quick.time = std::chrono::milliseconds(300);
  const auto start = std::chrono::steady_clock::now();
  auto sleeper = ChildProcess::Start(kShell, {"-c", "sleep 20"}, nullptr, quick);
  ASSERT_TRUE(sleeper.ok());
  std::string out;
  EXPECT_FALSE((*sleeper)->ReadAll(out).ok());
  EXPECT_EQ((*sleeper)->Wait(), 128 + SIGKILL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  ChildLimits short_output;
  short_output.output_bytes = 1 << 20;
  auto talker = ChildProcess::Start(kShell, {"-c", "cat /dev/zero"}, nullptr, short_output);
  ASSERT_TRUE(talker.ok());
  EXPECT_FALSE((*talker)->ReadAll(out).ok());
  EXPECT_LE(out.size(), size_t{1} << 20);
  EXPECT_EQ((*talker)->Wait(), 128 + SIGKILL);
}

}  // namespace
}  // namespace quarn
