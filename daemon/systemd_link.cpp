#include "daemon/systemd_link.h"

#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace quarn {

std::vector<ActivatedSocket> TakeActivatedSockets() {
  // Unsetting the variables keeps a child from believing the sockets are its own.
  const int count = sd_listen_fds(/*unset_environment=*/1);
  std::vector<ActivatedSocket> sockets;
  for (int descriptor = SD_LISTEN_FDS_START; descriptor < SD_LISTEN_FDS_START + count;
       ++descriptor) {
    if (sd_is_socket_unix(descriptor, SOCK_STREAM, /*listening=*/1, nullptr, 0) > 0) {
      sockets.push_back({descriptor, true});
    } else if (sd_is_socket_inet(descriptor, AF_UNSPEC, SOCK_STREAM, /*listening=*/1, 0) > 0) {
      sockets.push_back({descriptor, false});
    } else {
      close(descriptor);
    }
  }
  return sockets;
}

namespace {

void Notify(const std::string& state) {
  // sd_notify itself does nothing when NOTIFY_SOCKET is unset.
  sd_notify(/*unset_environment=*/0, state.c_str());
}

}  // namespace

void NotifyReady() {
  Notify("READY=1");
}

void NotifyReloading() {
  // The timestamp lets systemd tell this reload from an earlier one whose READY=1 is late.
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t microseconds =
      static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
  Notify("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(microseconds));
}

void NotifyStopping() {
  Notify("STOPPING=1");
}

void NotifyStatus(std::string_view text) {
  // A line break would start another assignment, which the text must never be able to do.
  std::string status = "STATUS=" + std::string(text);
  std::replace_if(
      status.begin(), status.end(), [](char c) { return c == '\n' || c == '\0'; }, ' ');
  Notify(status);
}

}  // namespace quarn
