// The ClamAV daemon itself as the witness of quarnd's replies: the same requests go to both,
// and the replies must agree byte for byte but for the virus name and the cause of a path's
// error. clamd runs on a database of one record of our own, the MD5 of the EICAR test file.
// clamav-daemon is a package of the full test run only: without it the tests skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/test_support/tool_witness.h"
#include "tests/quarnd_process.h"

namespace quarn::e2e {
namespace {

using namespace std::string_literals;

constexpr const char* kClamd = "/usr/sbin/clamd";

// Each reply line with "<name> FOUND" as "NAME FOUND" and "PATH: <cause>. ERROR" as
// "PATH: CAUSE. ERROR" (a path has no ": "; a cause may); the terminators kept.
std::vector<std::string> MaskedLines(const std::string& reply) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < reply.size()) {
    size_t end = reply.find_first_of("\n\0"s, from);
    end = end == std::string::npos ? reply.size() : end + 1;
    std::string line = reply.substr(from, end - from);
    from = end;
    const std::string terminator =
        line.back() == '\n' || line.back() == '\0' ? line.substr(line.size() - 1) : "";
    std::string body = line.substr(0, line.size() - terminator.size());
    const size_t id_end = body.find_first_not_of("0123456789");
    const bool has_id =
        id_end != 0 && id_end != std::string::npos && body.compare(id_end, 2, ": ") == 0;
    const size_t subject = has_id ? id_end + 2 : 0;
    if (body.ends_with(" FOUND")) {
      body = body.substr(0, body.rfind(": ") + 2) + "NAME FOUND";
    } else if (body.ends_with(". ERROR") && body.compare(subject, 1, "/") == 0) {
      body = body.substr(0, body.find(": ", subject) + 2) + "CAUSE. ERROR";
    }
    lines.push_back(body + terminator);
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), {}};
}

class QuarndClamdParityTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!std::filesystem::exists(kClamd)) return;
    scratch_ = new ScratchFolder();
    const std::string eicar = SampleBytes("eicar.com");
    const std::string clean = SampleBytes("clean.com");
    WriteFile(Path("eicar.com"), eicar);
    WriteFile(Path("clean.com"), clean);
    WriteFile(Path("clean_tree/sub/one.com"), clean);
    WriteFile(Path("clean_tree/two.com"), clean);
    WriteFile(Path("infected_tree/a/one.com"), eicar);
    WriteFile(Path("infected_tree/b/two.com"), eicar);
    WriteFile(Path("infected_tree/clean.com"), clean);
    // SCAN and ALLMATCHSCAN end at the first infected file the walk meets: clamd walks a
    // folder in the order the file system lists it, and so names either file of
    // infected_tree. A tree with one infected file among clean ones asks it the same.
    WriteFile(Path("one_infected_tree/a/one.com"), eicar);
    WriteFile(Path("one_infected_tree/b/two.com"), clean);
    const std::string md5 = testing::RunIn(scratch_->path(), "md5sum files/eicar.com").output;
    WriteFile(scratch_->Child("db/quarn.hdb"),
              md5.substr(0, 32) + ":" + std::to_string(eicar.size()) + ":Quarn.Eicar\n");
    clamd_socket_ = scratch_->Child("clamd.ctl");
    const std::string config = scratch_->Child("clamd.conf");
    std::ofstream(config) << "Foreground yes\nLocalSocket " << clamd_socket_
                          << "\nDatabaseDirectory " << scratch_->Child("db") << "\nLogFile "
                          << scratch_->Child("clamd.log") << "\nPidFile "
                          << scratch_->Child("clamd.pid") << "\nStreamMaxLength 1M\n";
    // Run through the shell on a thread of its own, which reads what it prints until it ends.
    clamd_ = new std::thread([config] {
      testing::RunIn(scratch_->path(), "exec " + std::string(kClamd) + " --config-file=" + config);
    });
    quarnd_ = new QuarndProcess({"StreamMaxLength 1M"});
    // clamd loads its database before it listens: a few seconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline &&
           Converse(clamd_socket_, "nPING\n", std::chrono::seconds(2)) != "PONG\n") {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  static void TearDownTestSuite() {
    if (clamd_ != nullptr) {
      testing::RunIn(scratch_->path(), "kill $(cat clamd.pid)");
      clamd_->join();
    }
    delete clamd_;
    delete quarnd_;
    delete scratch_;
    clamd_ = nullptr;
    quarnd_ = nullptr;
    scratch_ = nullptr;
  }
  void SetUp() override {
    if (scratch_ == nullptr) GTEST_SKIP() << kClamd << " is not installed (clamav-daemon)";
    ASSERT_EQ(Converse(clamd_socket_, "nPING\n"), "PONG\n")
        << "clamd did not start: " << ReadText(scratch_->Child("clamd.log"));
    ASSERT_TRUE(quarnd_->running()) << quarnd_->Log();
  }

  static std::string Path(const std::string& name) { return scratch_->Child("files/" + name); }

  // Sends `request` to both daemons and compares the masked replies, line by line in order,
  // or as a set of lines where the replies may come in any order.
  static void ExpectSameReply(const std::string& request, bool any_order = false) {
    std::vector<std::string> ours = MaskedLines(Converse(quarnd_->socket_path(), request));
    std::vector<std::string> theirs = MaskedLines(Converse(clamd_socket_, request));
    if (any_order) {
      std::sort(ours.begin(), ours.end());
      std::sort(theirs.begin(), theirs.end());
    }
    EXPECT_EQ(Joined(ours), Joined(theirs)) << "request: " << ::testing::PrintToString(request);
  }

  static ScratchFolder* scratch_;
  static std::thread* clamd_;
  static QuarndProcess* quarnd_;
  static std::string clamd_socket_;
};

ScratchFolder* QuarndClamdParityTest::scratch_ = nullptr;
std::thread* QuarndClamdParityTest::clamd_ = nullptr;
QuarndProcess* QuarndClamdParityTest::quarnd_ = nullptr;
std::string QuarndClamdParityTest::clamd_socket_;

TEST_F(QuarndClamdParityTest, CommandsInEachFraming) {
  for (const std::string command :
       {"PING", "ping", "PING x", "PINGX", " PING", "FOO", "", "SCAN", "RELOAD x"}) {
    ExpectSameReply("z" + command + "\0"s);
    ExpectSameReply("n" + command + "\n");
    if (!command.empty()) ExpectSameReply(command);
  }
  // Refused bare, and END outside a session in any framing.
  for (const std::string& request : {"INSTREAM"s, "IDSESSION"s, "END"s, "zEND\0"s, "nEND\n"s}) {
    ExpectSameReply(request);
  }
  ExpectSameReply("nPING\nnPING\n");
}

TEST_F(QuarndClamdParityTest, Streams) {
  const std::string eicar = SampleBytes("eicar.com");
  const std::string limit(1 << 20, 'x');
  for (const std::string& request : {
           "nINSTREAM\n" + Chunks(SampleBytes("clean.com")),
           "zINSTREAM\0"s + Chunks(eicar),
           "nINSTREAM\n" + Chunks(eicar, 1),
           "nINSTREAM\n" + Chunks(""),
           "nINSTREAM\n" + Chunks(limit, 65536),
           "nINSTREAM\n" + Chunks(limit + "y", 65536),
           "zINSTREAM\0"s + Chunks(limit + "y", 1 << 20),
           "nINSTREAM\n\xff\xff\xff\xff"s,
           "zINSTREAM\0\xff\xff\xff\xff"s + "abc",
       }) {
    ExpectSameReply(request);
  }
}

TEST_F(QuarndClamdParityTest, PathCommands) {
  for (const std::string command : {"SCAN", "CONTSCAN", "MULTISCAN", "ALLMATCHSCAN"}) {
    for (const std::string name : {"eicar.com", "clean.com", "missing.com", "clean_tree",
                                   "clean_tree/", "infected_tree", "one_infected_tree"}) {
      const bool stops_at_first = command == "SCAN" || command == "ALLMATCHSCAN";
      if (name == "infected_tree" && stops_at_first) continue;
      const bool any_order = name == "infected_tree";
      ExpectSameReply("n" + command + " " + Path(name) + "\n", any_order);
      ExpectSameReply("z" + command + " " + Path(name) + "\0"s, any_order);
    }
  }
}

TEST_F(QuarndClamdParityTest, Sessions) {
  const std::string eicar = SampleBytes("eicar.com");
  const std::string oversize((1 << 20) + 1, 'x');
  for (const std::string& session : {
           "nIDSESSION\nnPING\nzPING\0nEND\n"s,
           "zIDSESSION\0zSCAN "s + Path("eicar.com") + "\0nINSTREAM\n"s + Chunks(eicar) +
               "zINSTREAM\0"s + Chunks(SampleBytes("clean.com")) + "nSCAN " + Path("missing.com") +
               "\nnSCAN " + Path("clean_tree") + "\nzPING\0zEND\0"s,
           "nIDSESSION\nnSCAN " + Path("one_infected_tree") + "\nnPING\nnEND\n",
           "nIDSESSION\nnINSTREAM\n" + Chunks(oversize, 65536) + "nPING\nnEND\n",
           "nIDSESSION\nnPING\nnFOO\nnPING\nnEND\n"s,
           "nIDSESSION\nnIDSESSION\nnEND\n"s,
           "zIDSESSION\0zPING\0zIDSESSION\0zEND\0"s,
           "nIDSESSION\nnEND\n"s,
           "nIDSESSION\nnEND\nnPING\n"s,
           "nIDSESSION\nnCONTSCAN " + Path("clean.com") + "\nnPING\nnEND\n",
           "zIDSESSION\0zMULTISCAN "s + Path("clean_tree") + "\0zEND\0"s,
           "nIDSESSION\nnALLMATCHSCAN " + Path("clean.com") + "\nnEND\n",
           "nIDSESSION\nnRELOAD\nnEND\n"s,
           "nIDSESSION\nnSHUTDOWN\nnEND\n"s,
       }) {
    ExpectSameReply(session, /*any_order=*/true);
  }
}

}  // namespace
}  // namespace quarn::e2e
