#include "daemon/client_connection.h"
#include "daemon/reply_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace quarn {
namespace {

using namespace std::string_literals;

std::span<const uint8_t> AsBytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string Chunk(const std::string& data) {
  const auto length = static_cast<uint32_t>(data.size());
  std::string framed = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                        static_cast<char>(length >> 8), static_cast<char>(length)};
  return framed + data;
}

const std::string kEndOfStream("\0\0\0\0", 4);

std::string SpoolText(const EntrySpool& spool) {
  std::unique_ptr<File> file = spool.Open();
  std::string text(spool.size(), '\0');
  if (!text.empty()) {
    EXPECT_EQ(file->Read(text.data(), static_cast<uint32_t>(text.size())), text.size());
  }
  return text;
}

struct Exchange {
  std::vector<ClientRequest> requests;
  std::string output;
  bool finished = false;
};

// Feeds `pieces` one read each, as a socket could deliver them, answering nothing.
Exchange Feed(const std::vector<std::string>& pieces, bool over_unix = true,
              ConnectionLimits limits = {}) {
  ClientConnection connection(over_unix, limits);
  Exchange exchange;
  for (const std::string& piece : pieces) {
    connection.Receive(AsBytes(piece));
    for (ClientRequest& request : connection.TakeRequests()) {
      exchange.requests.push_back(std::move(request));
    }
  }
  exchange.output = connection.output();
  exchange.finished = connection.Finished();
  return exchange;
}

TEST(ClientConnectionTest, RefusesWhatIsNoCommandInTheFramingItCameIn) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"nFOO\n", "UNKNOWN COMMAND\n"},
      {"zFOO\0"s, "UNKNOWN COMMAND\0"s},
      {"FOO", "UNKNOWN COMMAND\n"},
      {"nping\n", "UNKNOWN COMMAND\n"},
      {"nPING x\n", "UNKNOWN COMMAND\n"},
      {"nSCAN\n", "UNKNOWN COMMAND\n"},
      {"n" + std::string(kMaxCommandLength, 'A'), "UNKNOWN COMMAND\n"},
  };
  for (const auto& [sent, reply] : cases) {
    const Exchange exchange = Feed({sent});
    EXPECT_TRUE(exchange.requests.empty()) << sent;
    EXPECT_EQ(exchange.output, reply) << sent;
    EXPECT_TRUE(exchange.finished) << sent;
  }
}

TEST(ClientConnectionTest, TakesOneCommandOfAnyFramingInPiecesThenNoMore) {
  const std::vector<std::pair<std::vector<std::string>, Framing>> cases = {
      {{"zPI", "NG\0"s}, Framing::kNul},
      {{"n", "PING", "\n", "nPING\n"}, Framing::kNewline},
      {{"PING"}, Framing::kBare},
      {{"PING\n"}, Framing::kBare},
      {{"nPING\r", "\n"}, Framing::kNewline},
      {{"PING\r\n"}, Framing::kBare},
  };
  for (const auto& [pieces, framing] : cases) {
    const Exchange exchange = Feed(pieces);
    ASSERT_EQ(exchange.requests.size(), 1u) << pieces[0];
    EXPECT_EQ(exchange.requests[0].command.kind, CommandKind::kPing);
    EXPECT_EQ(exchange.requests[0].framing, framing);
    EXPECT_FALSE(exchange.requests[0].session_id);
    EXPECT_TRUE(exchange.finished);
  }
  const Exchange scan = Feed({"zSCAN /a b/c\n\0"s});
  ASSERT_EQ(scan.requests.size(), 1u);
  EXPECT_EQ(scan.requests[0].command.kind, CommandKind::kScan);
  EXPECT_EQ(scan.requests[0].command.path, "/a b/c\n");
  // One CR before the newline goes, as the ClamAV daemon drops it; only one.
  const Exchange crlf = Feed({"nSCAN /p\r\r\n"});
  ASSERT_EQ(crlf.requests.size(), 1u);
  EXPECT_EQ(crlf.requests[0].command.path, "/p\r");
}

TEST(ClientConnectionTest, SessionNumbersCommandsAndRepliesInAnyOrder) {
  ClientConnection connection(true, {});
  connection.Receive(AsBytes("nIDSESSION\nnPING\nzVERSION\0nEND\n"s));
  std::vector<ClientRequest> requests = connection.TakeRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].session_id, 1u);
  EXPECT_EQ(requests[1].session_id, 2u);
  EXPECT_EQ(requests[1].framing, Framing::kNul);
  EXPECT_FALSE(connection.ReadyToClose());
  connection.Deliver("2: B\0"s);
  EXPECT_FALSE(connection.ReadyToClose());
  connection.Deliver("1: A\n");
  EXPECT_EQ(connection.output(), "2: B\0001: A\n"s);
  connection.Sent(connection.output().size());
  EXPECT_TRUE(connection.ReadyToClose());

  EXPECT_EQ(Feed({"nIDSESSION\nzFOO\0"s}).output, "1: Command invalid inside IDSESSION. ERROR\0"s);
  EXPECT_EQ(Feed({"nIDSESSION\nPING\n"}).output, "1: Command invalid inside IDSESSION. ERROR\n");
  // A refusal ends the session, whatever follows.
  const Exchange refused = Feed({"nIDSESSION\nnPING\nnFOO\nnPING\nnEND\n"});
  EXPECT_EQ(refused.requests.size(), 1u);
  EXPECT_EQ(refused.output, "2: Command invalid inside IDSESSION. ERROR\n");
  EXPECT_TRUE(refused.finished);
}

TEST(ClientConnectionTest, SessionReadsNoFurtherWhileTooManyRepliesAreOwed) {
  ConnectionLimits limits;
  limits.max_outstanding = 2;
  ClientConnection connection(true, limits);
  connection.Receive(AsBytes("nIDSESSION\nnPING\nnPING\nnPING\n"));
  EXPECT_EQ(connection.TakeRequests().size(), 2u);
  EXPECT_FALSE(connection.WantsBytes());
  connection.Deliver("1: PONG\n");
  const std::vector<ClientRequest> third = connection.TakeRequests();
  ASSERT_EQ(third.size(), 1u);
  EXPECT_EQ(third[0].session_id, 3u);
}

TEST(ClientConnectionTest, StreamArrivesWhateverThePiecesUpToItsLimit) {
  // The second chunk is longer than 255 bytes: every byte of its length counts.
  const std::string data = "X5O!P%@AP[4\\PZX54(P^)7CC)7}" + std::string(300, '$');
  const std::string sent =
      "zINSTREAM\0"s + Chunk(data.substr(0, 10)) + Chunk(data.substr(10)) + kEndOfStream;
  for (size_t piece_size : {1, 3, 4096}) {
    std::vector<std::string> pieces;
    for (size_t at = 0; at < sent.size(); at += piece_size)
      pieces.push_back(sent.substr(at, piece_size));
    ConnectionLimits limits;
    limits.stream_max_length = data.size();
    const Exchange exchange = Feed(pieces, true, limits);
    ASSERT_EQ(exchange.requests.size(), 1u) << piece_size;
    EXPECT_EQ(SpoolText(*exchange.requests[0].stream), data);
    EXPECT_EQ(exchange.output, "");
  }
  const Exchange empty = Feed({"nINSTREAM\n" + kEndOfStream});
  ASSERT_EQ(empty.requests.size(), 1u);
  EXPECT_EQ(empty.requests[0].stream->size(), 0u);

  ConnectionLimits limits;
  limits.stream_max_length = data.size() - 1;
  for (const std::string& over :
       {"nINSTREAM\n" + Chunk(data) + kEndOfStream, "nINSTREAM\n\xFF\xFF\xFF\xFF"s + "abc"}) {
    ClientConnection connection(true, limits);
    connection.Receive(AsBytes(over));
    EXPECT_TRUE(connection.TakeRequests().empty());
    EXPECT_EQ(connection.output(), "INSTREAM size limit exceeded. ERROR\n");
    EXPECT_TRUE(connection.Draining());
    connection.Receive(AsBytes("more bytes the client had in flight"));
    EXPECT_EQ(connection.output(), "INSTREAM size limit exceeded. ERROR\n");
  }
  const Exchange in_session =
      Feed({"nIDSESSION\nnPING\nzINSTREAM\0"s + Chunk(data) + kEndOfStream}, true, limits);
  EXPECT_EQ(in_session.output, "2: INSTREAM size limit exceeded. ERROR\0"s);
}

// A path or a virus name is shown in a reply line a client splits at ": " and ends at its
// terminator: neither may bring a control byte, nor a name a colon.
TEST(ClientConnectionTest, RepliedNamesCannotForgeAReplyLine) {
  EXPECT_EQ(ReplyPath("/a: b\n1: x FOUND\x7F"), "/a: b?1: x FOUND?");
  EXPECT_EQ(ReplyVirusName("Win.A: x\0 FOUND"s), "Win.A? x? FOUND");
}

TEST(ClientConnectionTest, FildesTakesTheDescriptorSentWithOrAfterTheCommand) {
  for (bool with_command : {true, false}) {
    ClientConnection connection(true, {});
    std::vector<UniqueDescriptor> passed;
    passed.emplace_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int number = passed.back().get();
    if (with_command) {
      connection.Receive(AsBytes("zFILDES\0"s), std::move(passed));
    } else {
      connection.Receive(AsBytes("zFILDES\0"s));
      EXPECT_TRUE(connection.TakeRequests().empty());
      EXPECT_TRUE(connection.AwaitingCommand());
      connection.Receive(AsBytes("\0"s), std::move(passed));  // the byte that carries it
    }
    std::vector<ClientRequest> requests = connection.TakeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].descriptor->get(), number);
  }
}

// clamdscan --multiscan --fdpass sends the command and then the byte that carries the
// descriptor; the kernel may hand both over in one read, and the byte was once taken for
// the next command of the session.
TEST(ClientConnectionTest, CarrierByteGluedToFildesIsNoCommand) {
  const std::vector<std::vector<std::string>> deliveries = {
      {"zIDSESSION\0zFILDES\0\0"s, "zFILDES\0\0"s, "zEND\0"s},
      {"zIDSESSION\0zFILDES\0"s, "\0"s, "zFILDES\0"s, "\0"s, "zEND\0"s},
  };
  for (const std::vector<std::string>& reads : deliveries) {
    ClientConnection connection(true, {});
    std::vector<int> numbers;
    std::vector<int> taken;
    for (const std::string& read : reads) {
      std::vector<UniqueDescriptor> passed;
      if (read.ends_with("FILDES\0\0"s) || read == "\0"s) {
        passed.emplace_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
        numbers.push_back(passed.back().get());
      }
      connection.Receive(AsBytes(read), std::move(passed));
      for (ClientRequest& request : connection.TakeRequests()) {
        taken.push_back(request.descriptor->get());
        connection.Deliver("reply");
      }
    }
    EXPECT_EQ(taken, numbers) << reads[0];
    EXPECT_EQ(connection.output(), "replyreply") << reads[0];
    EXPECT_TRUE(connection.Finished()) << reads[0];
  }
}

// Each command as the ClamAV daemon takes it: bare or only with a prefix, inside a session
// or not, and what a TCP client giving it first is answered ("" while it is being served).
TEST(ClientConnectionTest, EachCommandIsTakenWhereTheClamavDaemonTakesIt) {
  struct Case {
    std::string command;
    bool bare;
    bool in_session;
    std::string over_tcp;
  };
  const std::string denied = "/x: Access denied. ERROR\n";
  const std::string unavailable = "COMMAND UNAVAILABLE\n";
  const std::vector<Case> cases = {
      {"SCAN /x", true, true, denied},
      {"CONTSCAN /x", true, false, denied},
      {"MULTISCAN /x", true, false, denied},
      {"ALLMATCHSCAN /x", true, false, denied},
      {"FILDES", true, true, unavailable},
      {"RELOAD", true, false, unavailable},
      {"SHUTDOWN", true, false, unavailable},
      {"PING", true, true, ""},
      {"VERSION", true, true, ""},
      {"VERSIONCOMMANDS", true, true, ""},
      {"STATS", true, true, ""},
      {"INSTREAM", false, true, ""},
      {"IDSESSION", false, false, ""},
      {"END", false, true, "UNKNOWN COMMAND\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Feed({c.command}).output, c.bare ? "" : "UNKNOWN COMMAND\n") << c.command;
    EXPECT_EQ(Feed({"nIDSESSION\nn" + c.command + "\n"}).output,
              c.in_session ? "" : "1: Command invalid inside IDSESSION. ERROR\n")
        << c.command;
    EXPECT_EQ(Feed({"n" + c.command + "\n"}, false).output, c.over_tcp) << c.command;
  }
  EXPECT_EQ(Feed({"zCONTSCAN /x\n\0"s}, false).output, "/x?: Access denied. ERROR\0"s);
  EXPECT_EQ(Feed({"nIDSESSION\nnSCAN /\nnPING\n"}, false).output, "1: /: Access denied. ERROR\n");
  EXPECT_EQ(Feed({"nIDSESSION\nnSCAN /\nnPING\n"}, false).requests.size(), 1u);
}

TEST(ClientConnectionTest, TimeOutAnswersOnceAndEnds) {
  ClientConnection connection(true, {});
  connection.Receive(AsBytes("nPI"));
  connection.TimedOut();
  connection.TimedOut();
  EXPECT_EQ(connection.output(), "COMMAND READ TIMED OUT\n");
  EXPECT_TRUE(connection.Finished());
}

}  // namespace
}  // namespace quarn
