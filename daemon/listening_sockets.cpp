#include "daemon/listening_sockets.h"

#include <grp.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "platform/local_socket.h"
#include "platform/path_names.h"

namespace quarn {
namespace {

Status Failure(const std::string& what, int error) {
  return Status::Error(what + ": " + ErrnoText(error));
}

// Removes a socket file left behind by a daemon that is gone, and nothing else.
Status ClearStaleSocket(const std::string& path, const sockaddr_un& address) {
  struct stat facts {};
  if (lstat(path.c_str(), &facts) != 0) {
    return errno == ENOENT ? Status::Ok() : Failure(path, errno);
  }
  if (!S_ISSOCK(facts.st_mode)) {
    return Status::Error(path + ": exists and is not a socket; not removed");
  }
  UniqueDescriptor probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (probe.get() < 0) return Failure("socket", errno);
  if (connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return Status::Error(path + ": another daemon is listening on it");
  }
  if (errno != ECONNREFUSED) return Failure(path, errno);
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return Failure(path, errno);
  return Status::Ok();
}

}  // namespace

Result<Listener> ListenOnUnixSocket(const UnixSocketPlan& plan, int backlog) {
  const std::optional<sockaddr_un> found = LocalSocketAddress(plan.path);
  if (!found) return Status::Error(plan.path + ": not a usable socket path (empty or too long)");
  const sockaddr_un& address = *found;
  if (Status cleared = ClearStaleSocket(plan.path, address); !cleared) return cleared;
  Listener listener;
  listener.unix_socket = true;
  listener.descriptor =
      UniqueDescriptor(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (listener.descriptor.get() < 0) return Failure("socket", errno);
  if (bind(listener.descriptor.get(), reinterpret_cast<const sockaddr*>(&address),
           sizeof address) != 0) {
    return Failure(plan.path, errno);
  }
  listener.created_path = plan.path;
  // From here on the file is ours: it goes again if what follows fails.
  auto remove_on_failure = [&](Status failure) {
    unlink(plan.path.c_str());
    return failure;
  };
  if (plan.group) {
    const group* found = getgrnam(plan.group->c_str());
    if (found == nullptr) {
      return remove_on_failure(
          Status::Error("LocalSocketGroup " + *plan.group + ": no such group"));
    }
    if (chown(plan.path.c_str(), static_cast<uid_t>(-1), found->gr_gid) != 0) {
      return remove_on_failure(Failure(plan.path, errno));
    }
  }
  if (chmod(plan.path.c_str(), plan.mode) != 0) return remove_on_failure(Failure(plan.path, errno));
  if (listen(listener.descriptor.get(), backlog) != 0) {
    return remove_on_failure(Failure(plan.path, errno));
  }
  return listener;
}

Result<Listener> ListenOnTcp(const TcpSocketPlan& plan, int backlog) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(plan.port);
  const std::string where = plan.address + " port " + port;
  if (const int error = getaddrinfo(plan.address.c_str(), port.c_str(), &hints, &found);
      error != 0) {
    return Status::Error("TCPAddr " + plan.address + ": " + gai_strerror(error));
  }
  Listener listener;
  listener.descriptor =
      UniqueDescriptor(socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (listener.descriptor.get() < 0) {
    freeaddrinfo(found);
    return Failure("socket", errno);
  }
  const int on = 1;
  setsockopt(listener.descriptor.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const int bound = bind(listener.descriptor.get(), found->ai_addr, found->ai_addrlen);
  const int bind_error = errno;
  freeaddrinfo(found);
  if (bound != 0) return Failure(where, bind_error);
  if (listen(listener.descriptor.get(), backlog) != 0) return Failure(where, errno);
  return listener;
}

}  // namespace quarn
