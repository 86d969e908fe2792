#include "platform/descriptor_output.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/path_names.h"

namespace quarn {

Status WriteToDescriptor(int descriptor, std::string_view bytes, std::string_view name) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = write(descriptor, bytes.data() + done, bytes.size() - done);
    if (put > 0) {
      done += static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd writable{descriptor, POLLOUT, 0};
      if (poll(&writable, 1, -1) >= 0 || errno == EINTR) continue;
    }
    // write() gives 0 only for a request of 0 bytes, which this loop never makes.
    const int error = put < 0 ? errno : EIO;
    return Status::Error(PathMessage("cannot write", std::string(name), ErrnoText(error)));
  }
  return Status::Ok();
}

void IgnoreBrokenPipes() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace quarn
