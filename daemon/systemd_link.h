#pragma once

// The daemon's only use of libsystemd: the sockets socket activation hands over, and the
// state it tells the service manager.

#include <string_view>
#include <vector>

namespace quarn {

// A listening socket that systemd passed, and whether it is a Unix one (else TCP).
struct ActivatedSocket {
  int descriptor;
  bool unix_socket;
};

// The listening stream sockets systemd passed (LISTEN_FDS), now owned by the caller and
// close-on-exec; none when not socket-activated. The variables that passed them are
// removed from the environment, so a second call and any child find none. A passed
// descriptor that is neither a listening Unix nor a TCP stream socket is closed, not
// returned.
std::vector<ActivatedSocket> TakeActivatedSockets();

// What the service manager is told with Type=notify. Each does nothing when NOTIFY_SOCKET
// is not set, and a failure to send is ignored: the daemon serves all the same.
void NotifyReady();
void NotifyReloading();  // with MONOTONIC_USEC, which systemd 253 and later ask for
void NotifyStopping();
void NotifyStatus(std::string_view text);

}  // namespace quarn
