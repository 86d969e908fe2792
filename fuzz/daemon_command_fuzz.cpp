// Any bytes a client may send, in pieces of any size, with replies delivered in any order:
// the connection asks only for known commands, numbers a session's commands one after the
// other, never holds more than a command's worth of bytes waiting, and every byte it writes
// is a whole reply.
#include <cstdint>
#include <string>
#include <vector>

#include "daemon/client_connection.h"
#include "fuzz/fuzz_seeds.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first byte sets the piece size and the socket kind; the rest is what the client sent.
  const size_t piece = 1 + data[0] % 64;
  const bool over_unix = (data[0] & 0x80) != 0;
  quarn::ConnectionLimits limits;
  limits.stream_max_length = 4096;
  limits.max_outstanding = 3;
  quarn::ClientConnection connection(over_unix, limits);
  std::vector<quarn::ClientRequest> owed;
  uint64_t last_id = 0;
  for (size_t at = 1; at < size; at += piece) {
    const size_t length = std::min(piece, size - at);
    connection.Receive({data + at, length});
    for (quarn::ClientRequest& request : connection.TakeRequests()) {
      Check(request.command.kind != quarn::CommandKind::kUnknown);
      Check(request.command.kind != quarn::CommandKind::kIdSession);
      Check(request.command.kind != quarn::CommandKind::kEnd);
      Check(over_unix || quarn::RowOf(request.command.kind).over_tcp == quarn::OverTcp::kServed);
      Check((request.command.kind == quarn::CommandKind::kInstream) == (request.stream != nullptr));
      Check(request.stream == nullptr || request.stream->size() <= limits.stream_max_length);
      if (request.session_id) {
        Check(*request.session_id > last_id);
        last_id = *request.session_id;
      }
      owed.push_back(std::move(request));
    }
    Check(connection.outstanding() == owed.size());
    Check(owed.size() <= limits.max_outstanding);
    // Replies go back newest first, every other piece.
    if ((at / piece) % 2 == 1 && !owed.empty()) {
      connection.Deliver("R\n");
      owed.pop_back();
    }
    const std::string& output = connection.output();
    Check(output.empty() || output.back() == '\n' || output.back() == '\0');
    connection.Sent(output.size());
  }
  while (!owed.empty()) {
    connection.Deliver("R\n");
    owed.pop_back();
    for (quarn::ClientRequest& request : connection.TakeRequests())
      owed.push_back(std::move(request));
  }
  connection.TimedOut();
  Check(connection.Finished());
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  using namespace std::string_literals;
  const std::string stream = "zINSTREAM\0"s + "\0\0\0\x05hello"s + "\0\0\0\0"s;
  return {"\x81nPING\n"s,
          "\x83zIDSESSION\0zPING\0nVERSION\n"s + stream + "nSCAN /tmp\nzEND\0"s,
          "\x90nIDSESSION\nnFILDES\nnSTATS\nnIDSESSION\n"s,
          "\x05" + stream,
          "\x7fnINSTREAM\n\xff\xff\xff\xff"s,
          "\x01PING"s};
}
