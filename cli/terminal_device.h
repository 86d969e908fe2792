#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace quarn {

// The few things quarnscan asks of the terminal it runs in. The scan itself never sees
// these: they serve the front end's progress line and its questions.

// True when `stream` is a terminal.
bool IsTerminal(std::FILE* stream);

// The width of the terminal behind `stream`; 80 when it cannot be told.
size_t TerminalColumns(std::FILE* stream);

// The controlling terminal (/dev/tty), opened on first use, so questions reach the person
// even when standard input and output are pipes.
class ControllingTerminal {
 public:
  ControllingTerminal() = default;
  ~ControllingTerminal();
  ControllingTerminal(const ControllingTerminal&) = delete;
  ControllingTerminal& operator=(const ControllingTerminal&) = delete;

  // Writes `prompt` and reads one reply line, without its line end; at most kMaxReply bytes
  // are kept, the rest of the line is read and dropped. Nothing when there is no
  // controlling terminal, at its end, or when a signal (Ctrl-C) interrupts the wait.
  std::optional<std::string> Prompt(std::string_view prompt);

  static constexpr size_t kMaxReply = 256;

 private:
  int descriptor_ = -1;
  bool opened_ = false;
};

}  // namespace quarn
