#pragma once

#include <cstdint>
#include <vector>

#include "platform/status.h"

namespace quarn {

// Who is at the other end of a connected Unix socket, as the kernel recorded it when the
// connection was made (not as the peer claims).
struct PeerCredentials {
  uint32_t pid = 0;
  uint32_t uid = 0;
  uint32_t gid = 0;
  std::vector<uint32_t> groups;  // supplementary groups, in the kernel's order
};

// The credentials of the process at the other end of the connected Unix socket
// `socket_descriptor`: SO_PEERCRED for pid, uid and gid, SO_PEERGROUPS for the supplementary
// groups unless `with_groups` is false (then they are left empty, for ReadPeerGroups later).
// The failure names the cause ("peer credentials: Bad file descriptor").
Result<PeerCredentials> ReadPeerCredentials(int socket_descriptor, bool with_groups = true);
// The supplementary groups alone (SO_PEERGROUPS), as recorded when the connection was made.
Result<std::vector<uint32_t>> ReadPeerGroups(int socket_descriptor);

// Whether process `pid` now holds CAP_DAC_OVERRIDE or CAP_DAC_READ_SEARCH in its effective
// set (its /proc/PID/status). False when that cannot be read: a root peer whose rights are
// unknown gets no more than its mode bits.
bool PeerOverridesPermissions(uint32_t pid);

}  // namespace quarn
