#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "platform/unique_descriptor.h"

namespace quarn {

struct Listener {
  UniqueDescriptor descriptor;  // listening, non-blocking, close-on-exec
  bool unix_socket = false;
  std::string created_path;  // the socket file this daemon made and removes at the end
};

struct UnixSocketPlan {
  std::string path;
  uint32_t mode = 0660;
  std::optional<std::string> group;  // none: the daemon's own
};

struct TcpSocketPlan {
  std::string address;
  uint16_t port = 0;
};

// Listens on the socket file `plan.path` with its mode and group. A file already there is
// removed only when it is a socket that refuses connections (left by a daemon that died);
// a live socket or any other file is an error that names it.
Result<Listener> ListenOnUnixSocket(const UnixSocketPlan& plan, int backlog);
Result<Listener> ListenOnTcp(const TcpSocketPlan& plan, int backlog);

}  // namespace quarn
