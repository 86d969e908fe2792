#include "platform/local_socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace quarn {

std::optional<sockaddr_un> LocalSocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

int ConnectToLocalSocket(const std::string& path) {
  const std::optional<sockaddr_un> address = LocalSocketAddress(path);
  if (!address) return -1;
  const int descriptor = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (descriptor < 0) return -1;
  if (connect(descriptor, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
    close(descriptor);
    return -1;
  }
  return descriptor;
}

}  // namespace quarn
