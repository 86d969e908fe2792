#pragma once

#include <optional>
#include <string>

#include <sys/un.h>

namespace quarn {

// The address of the Unix socket file `path`; nothing when the path does not fit.
std::optional<sockaddr_un> LocalSocketAddress(const std::string& path);

// A blocking, close-on-exec stream connection to the Unix socket file `path`, as a daemon's
// client makes it: its descriptor, or -1 when the path does not fit or nobody listens there.
int ConnectToLocalSocket(const std::string& path);

}  // namespace quarn
