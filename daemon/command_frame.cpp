#include "daemon/command_frame.h"

namespace quarn {
namespace {

// A client that ends its lines with CR LF (a Windows client, telnet) means the command
// without the CR, as the ClamAV daemon takes it.
void DropCarriageReturn(std::string& text) {
  if (!text.empty() && text.back() == '\r') text.pop_back();
}

}  // namespace

FrameStatus TakeCommand(std::string_view bytes, CommandFrame* frame) {
  if (bytes.empty()) return FrameStatus::kIncomplete;
  const char prefix = bytes.front();
  if (prefix == 'z' || prefix == 'n') {
    const char delimiter = prefix == 'z' ? '\0' : '\n';
    const size_t end = bytes.find(delimiter, 1);
    if (end == std::string_view::npos) {
      return bytes.size() >= kMaxCommandLength ? FrameStatus::kTooLong : FrameStatus::kIncomplete;
    }
    if (end + 1 > kMaxCommandLength) return FrameStatus::kTooLong;
    frame->framing = prefix == 'z' ? Framing::kNul : Framing::kNewline;
    frame->text.assign(bytes.substr(1, end - 1));
    if (prefix == 'n') DropCarriageReturn(frame->text);
    frame->consumed = end + 1;
    return FrameStatus::kComplete;
  }
  const size_t newline = bytes.find('\n');
  const size_t length = newline == std::string_view::npos ? bytes.size() : newline;
  if (length >= kMaxCommandLength) return FrameStatus::kTooLong;
  frame->framing = Framing::kBare;
  frame->text.assign(bytes.substr(0, length));
  if (newline != std::string_view::npos) DropCarriageReturn(frame->text);
  // Everything the packet brought belongs to the one bare command.
  frame->consumed = bytes.size();
  return FrameStatus::kComplete;
}

char ReplyTerminator(Framing framing) {
  return framing == Framing::kNul ? '\0' : '\n';
}

}  // namespace quarn
