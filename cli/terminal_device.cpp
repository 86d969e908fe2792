#include "cli/terminal_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "cli/interrupt_watch.h"

namespace quarn {
namespace {

constexpr int kInterruptCheckMilliseconds = 100;

}  // namespace

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
    // A Ctrl-C may come just before the read begins, where it cannot interrupt it: the wait
    // looks at the interrupt flag every tenth of a second instead of blocking for good.
    pollfd waiting{descriptor_, POLLIN, 0};
    const int ready = poll(&waiting, 1, kInterruptCheckMilliseconds);
    if (InterruptReceived()) return std::nullopt;
    if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
    if (ready < 0) return std::nullopt;
    const ssize_t got = read(descriptor_, &byte, 1);
    // EINTR is not retried: the Ctrl-C handler is installed without SA_RESTART so that a
    // pending question gives way to the stop.
    if (got <= 0) return std::nullopt;
    if (byte == '\n') return reply;
    if (reply.size() < kMaxReply) reply += byte;
  }
}

}  // namespace quarn
