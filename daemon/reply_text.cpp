#include "daemon/reply_text.h"

namespace quarn {
namespace {

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

}  // namespace

std::string ReplyPath(std::string_view path) {
  std::string shown(path);
  for (char& c : shown) {
    if (IsControl(c)) c = '?';
  }
  return shown;
}

std::string ReplyVirusName(std::string_view name) {
  std::string shown(name);
  for (char& c : shown) {
    if (IsControl(c) || c == ':') c = '?';
  }
  return shown;
}

std::string FramedReply(std::string_view body, Framing framing,
                        std::optional<uint64_t> session_id) {
  std::string reply;
  if (session_id) reply = std::to_string(*session_id) + ": ";
  reply.append(body);
  reply.push_back(ReplyTerminator(framing));
  return reply;
}

}  // namespace quarn
