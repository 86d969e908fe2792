#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quarn {

// How a client delimits its command, which is also how every reply to it ends.
enum class Framing {
  kNul,      // "zCOMMAND\0": replies end with NUL
  kNewline,  // "nCOMMAND\n": replies end with a newline
  kBare,     // "COMMAND" in one packet: replies end with a newline
};

// The longest command taken, prefix and delimiter included: a path of PATH_MAX bytes and the
// longest command name fit with room to spare. A client that sends more without a delimiter
// is not sending a command.
inline constexpr size_t kMaxCommandLength = 8192;

enum class FrameStatus { kIncomplete, kComplete, kTooLong };

struct CommandFrame {
  Framing framing = Framing::kBare;
  std::string text;     // the command without its prefix and delimiter
  size_t consumed = 0;  // bytes of the input the command took, delimiter included
};

// Looks for one whole command at the start of `bytes`. A 'z' or 'n' prefix waits for its
// delimiter; a command without a prefix is what one packet delivered, up to a newline if it
// has one, so it is complete as soon as any byte of it is there (`bytes` must then hold what
// the first read brought, no more). kTooLong once kMaxCommandLength bytes hold no delimiter.
FrameStatus TakeCommand(std::string_view bytes, CommandFrame* frame);

// The byte every reply to a command of this framing ends with.
char ReplyTerminator(Framing framing);

}  // namespace quarn
