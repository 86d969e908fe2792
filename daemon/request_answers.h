#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "daemon/client_connection.h"
#include "daemon/daemon_databases.h"
#include "daemon/daemon_log.h"
#include "daemon/daemon_scan.h"
#include "platform/peer_credentials.h"

namespace quarn {

// "Quarn Explorer P/V/D": the program's version, the database's and its date as "Dec 2026".
std::string VersionText(const std::string& program_version, const DatabaseVersion& database);

// Who asks, and how path commands may be served to them.
struct Asker {
  std::optional<PeerCredentials> peer;  // none over TCP
  // The daemon may take another user's file-system identity; without it, path commands are
  // served only to clients of the daemon's own uid.
  bool may_assume_identity = false;
  uint32_t daemon_uid = 0;
  // How the log names the client beside what it streamed: "127.0.0.1@41234" over TCP,
  // "local, pid 4242, uid 1000" on the Unix socket.
  std::string client;
};

// The whole framed reply to a request that scans: INSTREAM, FILDES or a path command. Runs
// on a worker thread; a path command is answered with the asker's own rights (the thread
// takes them for the scan and gives them back). `cancelled` ends the scan early (the client
// went away, the daemon is stopping). Every finding is told to `log` as the ClamAV daemon
// logs it: "PATH: NAME FOUND", a stream as "instream(CLIENT)", a descriptor as
// "fd[N](CLIENT)".
std::string AnswerScanRequest(const ClientRequest& request, const DatabaseSet& databases,
                              const DaemonScanSettings& settings, const Asker& asker,
                              const std::atomic<bool>* cancelled, DaemonLog& log);

}  // namespace quarn
