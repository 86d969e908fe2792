#include "cli/terminal_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace quarn {

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

size_t TerminalColumns(std::FILE* stream) {
  constexpr size_t kDefaultColumns = 80;
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kDefaultColumns;
  return size.ws_col;
}

ControllingTerminal::~ControllingTerminal() {
  if (descriptor_ >= 0) close(descriptor_);
}

std::optional<std::string> ControllingTerminal::Prompt(std::string_view prompt) {
  if (!opened_) {
    opened_ = true;
    descriptor_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  if (descriptor_ < 0) return std::nullopt;
  size_t written = 0;
  while (written < prompt.size()) {
    const ssize_t done = write(descriptor_, prompt.data() + written, prompt.size() - written);
    if (done <= 0) return std::nullopt;  // an interrupted prompt is no question asked
    written += static_cast<size_t>(done);
  }
  std::string reply;
  char byte = 0;
  for (;;) {
    const ssize_t got = read(descriptor_, &byte, 1);
    // EINTR is not retried: the Ctrl-C handler is installed without SA_RESTART so that a
    // pending question gives way to the stop.
    if (got <= 0) return std::nullopt;
    if (byte == '\n') return reply;
    if (reply.size() < kMaxReply) reply += byte;
  }
}

}  // namespace quarn
