#pragma once

#include <string>
#include <string_view>

namespace quarn {

enum class CommandKind {
  kPing,
  kVersion,
  kVersionCommands,
  kInstream,
  kScan,
  kContScan,
  kMultiScan,
  kAllMatchScan,
  kFildes,
  kIdSession,
  kEnd,
  kStats,
  kReload,
  kShutdown,
  kUnknown,
};

struct DaemonCommand {
  CommandKind kind = CommandKind::kUnknown;
  std::string path;  // the path commands' argument, as sent
};

// Reads a command's text (prefix and delimiter gone). Names are matched exactly, case
// included; a path command takes everything after the blank that follows its name (an
// empty path is still a path command, refused when it is opened); any other command with
// something after its name is unknown, as is a path command without an argument.
DaemonCommand ParseDaemonCommand(std::string_view text);

// Whether the command names a path on this machine (SCAN and its kin).
bool IsPathCommand(CommandKind kind);

// Whether a TCP client may give it: path commands, FILDES, RELOAD and SHUTDOWN come only
// over the Unix socket.
bool ServedOverTcp(CommandKind kind);

// Whether an IDSESSION may hold it. As in the ClamAV daemon, the scans of whole trees
// (CONTSCAN, MULTISCAN, ALLMATCHSCAN), RELOAD, SHUTDOWN and another IDSESSION end a session
// with an error, as an unknown command does.
bool ServedInSession(CommandKind kind);

// What VERSIONCOMMANDS lists after "| COMMANDS: ": over TCP, only what TCP serves.
std::string SupportedCommandNames(bool over_unix_socket);

}  // namespace quarn
