#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "containers/entry_spool.h"
#include "daemon/command_frame.h"
#include "daemon/daemon_command.h"
#include "daemon/instream_decoder.h"
#include "platform/unique_descriptor.h"

namespace quarn {

// One command a connection asks to have answered, with what it brought: a stream's bytes or
// a passed descriptor.
struct ClientRequest {
  DaemonCommand command;
  Framing framing = Framing::kNewline;
  std::optional<uint64_t> session_id;  // inside IDSESSION: the number the reply carries
  // INSTREAM: the data received; FILDES: the passed file's bytes, when they were read whole
  // before the scan (then they, not the descriptor, are scanned).
  std::shared_ptr<EntrySpool> stream;
  std::shared_ptr<UniqueDescriptor> descriptor;  // FILDES: the descriptor passed
};

struct ConnectionLimits {
  uint64_t stream_max_length = 25 * 1024 * 1024;  // 0: no limit
  std::string temporary_folder;                   // where streams past 1 MiB are spooled
  // Commands of one session waiting for their replies before the connection reads no more.
  size_t max_outstanding = 16;
};

// The protocol of one client connection, without its socket: bytes and passed descriptors go
// in as they are read; commands to answer, replies to send and when to stop reading or close
// come out. Replies to a session's commands may be delivered in any order.
class ClientConnection {
 public:
  ClientConnection(bool over_unix_socket, ConnectionLimits limits);

  // What the socket delivered, in order. `descriptors` came with these bytes, on the last of
  // them; when that byte follows FILDES, it is the one the client passed them on (the way
  // clients pass one) and adds nothing to the commands.
  void Receive(std::span<const uint8_t> bytes, std::vector<UniqueDescriptor> descriptors = {});

  // The commands complete so far, each to be answered once through Deliver.
  std::vector<ClientRequest> TakeRequests();
  // The reply to one request handed out by TakeRequests, whole and framed.
  void Deliver(std::string reply);

  // Bytes to write to the socket; `Sent(n)` drops the first n once written, which may let
  // commands held back while many replies waited be taken (see HasRequests).
  const std::string& output() const { return output_; }
  void Sent(size_t count);
  bool HasRequests() const { return !requests_.empty(); }

  // Whether reading the socket now would be of use: the connection still expects bytes and
  // has not too many replies outstanding.
  bool WantsBytes() const;
  // The client said all it will (end of stream, an error that ends the connection, END):
  // what remains is to send the output, and close once nothing is outstanding.
  bool Finished() const { return state_ == State::kFinished || state_ == State::kDraining; }
  // After a refused stream: bytes still arriving are read and dropped for a short while, so
  // the client can read the error before the connection closes.
  bool Draining() const { return state_ == State::kDraining; }
  bool ReadyToClose() const { return Finished() && outstanding_ == 0 && output_.empty(); }
  // Waiting for the rest of a command (or for the descriptor of FILDES) rather than for data.
  bool AwaitingCommand() const { return state_ == State::kCommand || state_ == State::kDescriptor; }
  bool ReceivingStream() const { return state_ == State::kStream; }
  bool in_session() const { return in_session_; }
  size_t outstanding() const { return outstanding_; }

  // The client sent nothing in time: the reply that says so, and the connection ends.
  void TimedOut();
  // Something the client sent cannot be taken (descriptors lost on the way): the reply
  // `body`, and the connection ends.
  void EndWithError(std::string_view body);
  // The daemon is stopping: the connection ends without a word.
  void Abandon();

 private:
  enum class State { kCommand, kStream, kDescriptor, kFinished, kDraining };

  void Parse();
  void TakeCommandFrame(const CommandFrame& frame);
  void Refuse(std::string_view body, Framing framing, bool end_connection);
  void Request(ClientRequest request);
  void FeedStream();
  // Drops the first `count` bytes of input_, which the parse has used.
  void Consume(size_t count);
  std::optional<uint64_t> NextId();

  bool over_unix_socket_;
  ConnectionLimits limits_;
  State state_ = State::kCommand;
  bool first_command_ = true;
  bool in_session_ = false;
  uint64_t last_id_ = 0;
  size_t outstanding_ = 0;
  std::string input_;
  // Where input_ begins in all the client sent, and where the last byte that carried
  // descriptors lies in it.
  uint64_t input_offset_ = 0;
  std::optional<uint64_t> carrier_at_;
  std::string output_;
  std::deque<UniqueDescriptor> descriptors_;
  std::vector<ClientRequest> requests_;
  // The command being answered: INSTREAM while its data comes, FILDES while its descriptor
  // does.
  ClientRequest current_;
  std::optional<InstreamDecoder> decoder_;
};

}  // namespace quarn
