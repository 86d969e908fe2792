// The bytes other real clients send, written out as their sources send them, replayed against
// quarnd; each reply is checked byte for byte and read back the way that client reads it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <map>
#include <optional>
#include <regex>

#include "platform/descriptor_passing.h"
#include "platform/unique_descriptor.h"
#include "tests/quarnd_process.h"

namespace quarn::e2e {
namespace {

using namespace std::string_literals;

// A 4-byte big-endian length, as Python's struct.pack('!L') and PHP's pack('N') write it.
std::string RecordedLength(uint32_t length) {
  return {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
          static_cast<char>(length >> 8), static_cast<char>(length)};
}

// The python "clamd" package's instream(): nINSTREAM, then sendall(length + chunk) for each
// read of at most 1024 bytes, then a zero length; the reply is one readline().
std::string PythonClamdInstream(const std::string& data) {
  std::string sent = "nINSTREAM\n";
  for (size_t at = 0; at < data.size(); at += 1024) {
    const std::string chunk = data.substr(at, 1024);
    sent += RecordedLength(static_cast<uint32_t>(chunk.size())) + chunk;
  }
  return sent + RecordedLength(0);
}

// What the python "clamd" package makes of a reply line (its scan_response pattern):
// path, virus name (empty for OK) and status, or nothing when the line does not parse.
std::optional<std::array<std::string, 3>> PythonClamdParse(std::string line) {
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  static const std::regex pattern("^(.*): ((.+) )?(FOUND|OK|ERROR)$");
  std::smatch match;
  if (!std::regex_match(line, match, pattern)) return std::nullopt;
  return std::array<std::string, 3>{match[1], match[3], match[4]};
}

class QuarndRecordedTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    daemon_ = new QuarndProcess();
    eicar_ = SampleBytes("eicar.com");
    clean_ = SampleBytes("clean.com");
    WriteFile(daemon_->folder() + "/files/eicar.com", eicar_);
    WriteFile(daemon_->folder() + "/files/tree/a/one.com", eicar_);
    WriteFile(daemon_->folder() + "/files/tree/b/two.com", eicar_);
    WriteFile(daemon_->folder() + "/files/tree/clean.com", clean_);
  }
  static void TearDownTestSuite() {
    delete daemon_;
    daemon_ = nullptr;
  }
  static std::string Ask(const std::string& bytes) {
    return Converse(daemon_->socket_path(), bytes);
  }
  static UniqueDescriptor OpenSample(const std::string& name) {
    return UniqueDescriptor(open((daemon_->folder() + "/files/" + name).c_str(), O_RDONLY));
  }

  static QuarndProcess* daemon_;
  static std::string eicar_;
  static std::string clean_;
};

QuarndProcess* QuarndRecordedTest::daemon_ = nullptr;
std::string QuarndRecordedTest::eicar_;
std::string QuarndRecordedTest::clean_;

// Archivematica's virus check asks VERSION first and takes it only when it splits into
// exactly three parts on '/', then streams the file with the python clamd package.
TEST_F(QuarndRecordedTest, ArchivematicaVersionAndStream) {
  ASSERT_TRUE(daemon_->running()) << daemon_->Log();
  const std::string version = Ask("nVERSION\n");
  ASSERT_TRUE(version.ends_with("\n")) << version;
  const std::vector<std::string> parts = SplitOn(version.substr(0, version.size() - 1), '/');
  ASSERT_EQ(parts.size(), 3u) << version;
  EXPECT_TRUE(parts[0].starts_with("Quarn Explorer ")) << version;
  EXPECT_TRUE(std::regex_match(parts[2], std::regex("[A-Z][a-z]{2} [0-9]{4}"))) << version;

  EXPECT_EQ(Ask(PythonClamdInstream(eicar_)), "stream: EICAR-Test-File FOUND\n");
  // Past one 1024-byte chunk, a clean file.
  const std::string large(5000, '\x90');
  const std::string reply = Ask(PythonClamdInstream(large));
  EXPECT_EQ(reply, "stream: OK\n");
  const auto parsed = PythonClamdParse(reply);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(*parsed, (std::array<std::string, 3>{"stream", "", "OK"}));
}

// The python clamd package: PING, INSTREAM and the path commands, whose reply it reads to
// the end and parses line by line.
TEST_F(QuarndRecordedTest, PythonClamdCommands) {
  EXPECT_EQ(Ask("nPING\n"), "PONG\n");
  const auto found = PythonClamdParse(Ask(PythonClamdInstream(eicar_)));
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, (std::array<std::string, 3>{"stream", "EICAR-Test-File", "FOUND"}));

  const std::string files = daemon_->folder() + "/files";
  const auto scanned = PythonClamdParse(Ask("nSCAN " + files + "/eicar.com\n"));
  ASSERT_TRUE(scanned.has_value());
  EXPECT_EQ(*scanned,
            (std::array<std::string, 3>{files + "/eicar.com", "EICAR-Test-File", "FOUND"}));
  for (const std::string command : {"CONTSCAN", "MULTISCAN"}) {
    std::map<std::string, std::string> verdicts;
    for (const std::string& line : SplitOn(Ask("n" + command + " " + files + "/tree\n"), '\n')) {
      const auto parsed = PythonClamdParse(line);
      ASSERT_TRUE(parsed.has_value()) << line;
      verdicts[(*parsed)[0]] = (*parsed)[1] + " " + (*parsed)[2];
    }
    EXPECT_EQ(verdicts, (std::map<std::string, std::string>{
                            {files + "/tree/a/one.com", "EICAR-Test-File FOUND"},
                            {files + "/tree/b/two.com", "EICAR-Test-File FOUND"}}))
        << command;
  }
  const auto missing = PythonClamdParse(Ask("nSCAN " + files + "/missing.com\n"));
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ((*missing)[2], "ERROR");
}

// Nextcloud's files_antivirus in daemon and socket mode: nINSTREAM, one fwrite of length and
// data for each 8192-byte read of the file, a zero length, then one fgets matched against its
// rules "/.*: OK$/" and "/.*: (.*) FOUND$/". A file of a whole number of reads gets an empty
// read at its end too, so two zero lengths go out.
TEST_F(QuarndRecordedTest, NextcloudStreamsAndReadsOneLine) {
  auto nextcloud = [](const std::string& file) {
    std::string sent = "nINSTREAM\n";
    size_t at = 0;
    for (; at < file.size(); at += 8192) {
      const std::string read = file.substr(at, 8192);
      sent += RecordedLength(static_cast<uint32_t>(read.size())) + read;
    }
    if (at == file.size()) sent += RecordedLength(0);  // the empty read that finds the end
    return sent + RecordedLength(0);
  };
  const std::regex found_rule(".*: (.*) FOUND");
  std::smatch match;
  const std::string infected = Ask(nextcloud(eicar_));
  EXPECT_EQ(infected, "stream: EICAR-Test-File FOUND\n");
  const std::string line = infected.substr(0, infected.find('\n'));
  ASSERT_TRUE(std::regex_match(line, match, found_rule)) << infected;
  EXPECT_EQ(match[1], "EICAR-Test-File");
  EXPECT_EQ(Ask(nextcloud(std::string(3 * 8192, '\x90'))), "stream: OK\n");
  EXPECT_EQ(Ask(nextcloud(std::string(3 * 8192 + 5, '\x90'))), "stream: OK\n");
}

// clamdscan --multiscan --stream's way: many INSTREAMs in one session, answered as each scan
// ends, every id once.
TEST_F(QuarndRecordedTest, SessionOfStreamsAnswersEveryIdOnce) {
  const std::vector<std::string> streams = {eicar_, clean_, eicar_, std::string(70000, 'x'),
                                            clean_, eicar_};
  std::string sent = "zIDSESSION\0"s;
  for (const std::string& data : streams) sent += "zINSTREAM\0"s + Chunks(data, 4096);
  sent += "zEND\0"s;
  std::map<size_t, std::string> replies;
  for (const std::string& reply : SplitOn(Ask(sent), '\0')) {
    const size_t colon = reply.find(": ");
    ASSERT_NE(colon, std::string::npos) << reply;
    const size_t id = std::stoul(reply.substr(0, colon));
    EXPECT_TRUE(replies.emplace(id, reply.substr(colon + 2)).second) << "twice: " << id;
  }
  ASSERT_EQ(replies.size(), streams.size());
  for (size_t id = 1; id <= streams.size(); ++id) {
    EXPECT_EQ(replies[id],
              streams[id - 1] == eicar_ ? "stream: EICAR-Test-File FOUND" : "stream: OK")
        << id;
  }
}

TEST_F(QuarndRecordedTest, StreamSentOneByteAtATime) {
  const int socket = ConnectTo(daemon_->socket_path());
  ASSERT_GE(socket, 0);
  const std::string sent = "nINSTREAM\n" + Chunks(eicar_, 7);
  for (char byte : sent) ASSERT_TRUE(SendBytes(socket, std::string(1, byte)));
  EXPECT_EQ(ReadUntilClosed(socket), "stream: EICAR-Test-File FOUND\n");
  close(socket);
}

// clamdscan --fdpass: zFILDES\0 in one send, then one byte that carries the descriptor. The
// kernel may hand both to the daemon in one read; sending them as one message makes sure.
TEST_F(QuarndRecordedTest, FildesAsClamdscanPassesIt) {
  const std::regex eicar_reply("fd\\[[0-9]+\\]: EICAR-Test-File FOUND");
  const std::regex clean_reply("fd\\[[0-9]+\\]: OK");
  {
    const int socket = ConnectTo(daemon_->socket_path());
    ASSERT_GE(socket, 0);
    ASSERT_TRUE(SendBytes(socket, "zFILDES\0"s));
    const UniqueDescriptor file = OpenSample("eicar.com");
    const char carrier = '\0';
    ASSERT_TRUE(SendWithDescriptor(socket, &carrier, 1, file.get()));
    const std::string reply = ReadUntilClosed(socket);
    EXPECT_TRUE(reply.ends_with('\0') &&
                std::regex_match(reply.substr(0, reply.size() - 1), eicar_reply))
        << reply;
    close(socket);
  }
  for (bool glued : {false, true}) {
    const int socket = ConnectTo(daemon_->socket_path());
    ASSERT_GE(socket, 0);
    ASSERT_TRUE(SendBytes(socket, "zIDSESSION\0"s));
    for (const std::string name : {"eicar.com", "tree/clean.com"}) {
      const UniqueDescriptor file = OpenSample(name);
      const std::string message = glued ? "zFILDES\0\0"s : "\0"s;
      if (!glued) {
        ASSERT_TRUE(SendBytes(socket, "zFILDES\0"s));
      }
      ASSERT_TRUE(SendWithDescriptor(socket, message.data(), message.size(), file.get()));
    }
    ASSERT_TRUE(SendBytes(socket, "zEND\0"s));
    std::map<std::string, std::string> replies;
    for (const std::string& reply : SplitOn(ReadUntilClosed(socket), '\0')) {
      replies[reply.substr(0, reply.find(": "))] = reply.substr(reply.find(": ") + 2);
    }
    close(socket);
    ASSERT_EQ(replies.size(), 2u) << glued;
    EXPECT_TRUE(std::regex_match(replies["1"], eicar_reply)) << replies["1"];
    EXPECT_TRUE(std::regex_match(replies["2"], clean_reply)) << replies["2"];
  }
}

}  // namespace
}  // namespace quarn::e2e
