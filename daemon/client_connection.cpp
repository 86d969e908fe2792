#include "daemon/client_connection.h"

#include "daemon/reply_text.h"

namespace quarn {
namespace {

// Descriptors passed ahead of the FILDES that takes them; more are closed as they come.
constexpr size_t kMaxWaitingDescriptors = 4;
// Replies not yet written past which the connection reads no more: a client that does not
// read its replies is not given more work to pile up. A thousand such clients hold no more
// than 64 MiB of them, and a session that reads keeps plenty of replies on their way.
constexpr size_t kMaxUnsentOutput = size_t{64} << 10;

constexpr std::string_view kUnknownCommand = "UNKNOWN COMMAND";
constexpr std::string_view kInvalidInSession = "Command invalid inside IDSESSION. ERROR";
constexpr std::string_view kStreamTooLong = "INSTREAM size limit exceeded. ERROR";
constexpr std::string_view kTimedOut = "COMMAND READ TIMED OUT";

}  // namespace

ClientConnection::ClientConnection(bool over_unix_socket, ConnectionLimits limits)
    : over_unix_socket_(over_unix_socket), limits_(std::move(limits)) {}

void ClientConnection::Receive(std::span<const uint8_t> bytes,
                               std::vector<UniqueDescriptor> descriptors) {
  if (Finished()) return;  // what a finished client still sends is dropped, with its descriptors
  // A receive ends with the message that brought descriptors, so its last byte is theirs; bytes
  // sent before it may come glued in front.
  if (!descriptors.empty() && !bytes.empty()) {
    carrier_at_ = input_offset_ + input_.size() + bytes.size() - 1;
  }
  for (UniqueDescriptor& descriptor : descriptors) {
    if (descriptors_.size() < kMaxWaitingDescriptors) descriptors_.push_back(std::move(descriptor));
  }
  input_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  Parse();
}

std::vector<ClientRequest> ClientConnection::TakeRequests() {
  return std::exchange(requests_, {});
}

void ClientConnection::Sent(size_t count) {
  output_.erase(0, count);
  Parse();  // commands held back while too many replies waited to be sent
}

void ClientConnection::Deliver(std::string reply) {
  output_.append(reply);
  if (outstanding_ > 0) --outstanding_;
  Parse();  // commands held back while too many replies were outstanding
}

bool ClientConnection::WantsBytes() const {
  if (state_ == State::kDraining) return true;
  if (Finished()) return false;
  return outstanding_ < limits_.max_outstanding && output_.size() < kMaxUnsentOutput;
}

void ClientConnection::TimedOut() {
  EndWithError(kTimedOut);
}

void ClientConnection::EndWithError(std::string_view body) {
  if (Finished()) return;
  output_.append(FramedReply(body, Framing::kNewline));
  state_ = State::kFinished;
  input_.clear();
}

void ClientConnection::Abandon() {
  state_ = State::kFinished;
  input_.clear();
}

std::optional<uint64_t> ClientConnection::NextId() {
  if (!in_session_) return std::nullopt;
  return ++last_id_;
}

void ClientConnection::Refuse(std::string_view body, Framing framing, bool end_connection) {
  output_.append(FramedReply(body, framing, NextId()));
  if (end_connection) {
    state_ = State::kFinished;
    input_.clear();
  } else if (!in_session_) {
    state_ = State::kFinished;
  }
}

void ClientConnection::Consume(size_t count) {
  input_.erase(0, count);
  input_offset_ += count;
}

void ClientConnection::Request(ClientRequest request) {
  requests_.push_back(std::move(request));
  ++outstanding_;
  state_ = in_session_ ? State::kCommand : State::kFinished;
}

void ClientConnection::Parse() {
  while (true) {
    switch (state_) {
      case State::kFinished:
      case State::kDraining:
        input_.clear();
        return;
      case State::kStream:
        FeedStream();
        if (state_ == State::kStream) return;
        break;
      case State::kDescriptor:
        // The byte a client sends its descriptor on after FILDES is no command; a client that
        // attached the descriptor to the command itself sent none.
        if (!input_.empty() && carrier_at_ == input_offset_) Consume(1);
        if (descriptors_.empty()) return;
        current_.descriptor = std::make_shared<UniqueDescriptor>(descriptors_.front().release());
        descriptors_.pop_front();
        Request(std::move(current_));
        break;
      case State::kCommand: {
        if (input_.empty() || outstanding_ >= limits_.max_outstanding ||
            output_.size() >= kMaxUnsentOutput) {
          return;
        }
        if (in_session_ && input_[0] != 'z' && input_[0] != 'n') {
          Refuse(kInvalidInSession, Framing::kNewline, true);
          return;
        }
        CommandFrame frame;
        const FrameStatus status = TakeCommand(input_, &frame);
        if (status == FrameStatus::kIncomplete) return;
        if (status == FrameStatus::kTooLong) {
          const char prefix = input_[0];
          Refuse(kUnknownCommand,
                 prefix == 'z'   ? Framing::kNul
                 : prefix == 'n' ? Framing::kNewline
                                 : Framing::kBare,
                 true);
          return;
        }
        Consume(frame.consumed);
        TakeCommandFrame(frame);
        break;
      }
    }
  }
}

void ClientConnection::TakeCommandFrame(const CommandFrame& frame) {
  const DaemonCommand command = ParseDaemonCommand(frame.text);
  const CommandRow& row = RowOf(command.kind);
  const bool first = std::exchange(first_command_, false);
  if (in_session_) {
    if (command.kind == CommandKind::kEnd) {
      state_ = State::kFinished;
      input_.clear();
      return;
    }
    if (!row.in_session) {
      Refuse(kInvalidInSession, frame.framing, true);
      return;
    }
  } else {
    if (!row.outside_session || (frame.framing == Framing::kBare && !row.bare) || !first) {
      Refuse(kUnknownCommand, frame.framing, true);
      return;
    }
    if (command.kind == CommandKind::kIdSession) {
      in_session_ = true;
      return;
    }
  }
  if (!over_unix_socket_ && row.over_tcp == OverTcp::kAccessDenied) {
    // In the shape of a path the client may not read, which clients parse; a bare refusal
    // is one they cannot.
    Refuse(ReplyPath(command.path) + ": Access denied. ERROR", frame.framing, false);
    return;
  }
  if (!over_unix_socket_ && row.over_tcp == OverTcp::kUnavailable) {
    Refuse(kCommandUnavailable, frame.framing, false);
    return;
  }
  ClientRequest request{command, frame.framing, NextId(), nullptr, nullptr};
  if (command.kind == CommandKind::kInstream) {
    request.stream = std::make_shared<EntrySpool>(limits_.temporary_folder);
    current_ = std::move(request);
    decoder_.emplace(limits_.stream_max_length);
    state_ = State::kStream;
  } else if (command.kind == CommandKind::kFildes) {
    current_ = std::move(request);
    state_ = State::kDescriptor;
  } else {
    Request(std::move(request));
  }
}

void ClientConnection::FeedStream() {
  size_t used = 0;
  while (used < input_.size() && decoder_->state() == InstreamDecoder::State::kData) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(input_.data()) + used;
    const InstreamDecoder::Step step = decoder_->Feed({bytes, input_.size() - used});
    used += step.consumed;
    if (!step.data.empty()) {
      const Status appended = current_.stream->Append(step.data.data(), step.data.size());
      if (!appended) {
        input_.clear();
        output_.append(FramedReply("Error writing to temporary file. ERROR", current_.framing,
                                   current_.session_id));
        state_ = State::kDraining;
        return;
      }
    }
  }
  Consume(used);
  switch (decoder_->state()) {
    case InstreamDecoder::State::kData:
      return;
    case InstreamDecoder::State::kFinished:
      decoder_.reset();
      Request(std::move(current_));
      return;
    case InstreamDecoder::State::kTooLong:
      decoder_.reset();
      output_.append(FramedReply(kStreamTooLong, current_.framing, current_.session_id));
      current_ = {};
      input_.clear();
      state_ = State::kDraining;
      return;
  }
}

}  // namespace quarn
