#include "platform/peer_credentials.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <linux/capability.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "platform/path_names.h"

namespace quarn {
namespace {

Status Failure(const char* what, int error) {
  return Status::Error(std::string(what) + ": " + ErrnoText(error));
}

}  // namespace

// The kernel answers ERANGE with the length it needs, so a peer in many groups costs one
// more call, not a guess at a limit.
Result<std::vector<uint32_t>> ReadPeerGroups(int socket_descriptor) {
  std::vector<gid_t> groups(16);
  for (;;) {
    socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (getsockopt(socket_descriptor, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
      groups.resize(length / sizeof(gid_t));
      return std::vector<uint32_t>(groups.begin(), groups.end());
    }
    if (errno != ERANGE) return Failure("peer groups", errno);
    const size_t needed = length / sizeof(gid_t);
    groups.resize(needed > groups.size() ? needed : groups.size() * 2);
  }
}

Result<PeerCredentials> ReadPeerCredentials(int socket_descriptor, bool with_groups) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (getsockopt(socket_descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
    return Failure("peer credentials", errno);
  }
  if (length != sizeof(credentials)) return Status::Error("peer credentials: short answer");
  PeerCredentials peer;
  peer.pid = static_cast<uint32_t>(credentials.pid);
  peer.uid = credentials.uid;
  peer.gid = credentials.gid;
  if (with_groups) {
    Result<std::vector<uint32_t>> groups = ReadPeerGroups(socket_descriptor);
    if (!groups) return groups.status();
    peer.groups = std::move(*groups);
  }
  return peer;
}

bool PeerOverridesPermissions(uint32_t pid) {
  if (pid == 0) return false;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  constexpr std::string_view kEffective = "CapEff:";
  for (std::string line; std::getline(status, line);) {
    if (!line.starts_with(kEffective)) continue;
    const uint64_t effective = std::strtoull(line.c_str() + kEffective.size(), nullptr, 16);
    const uint64_t overriding =
        (uint64_t{1} << CAP_DAC_OVERRIDE) | (uint64_t{1} << CAP_DAC_READ_SEARCH);
    return (effective & overriding) != 0;
  }
  return false;
}

}  // namespace quarn
