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

// How far a scan goes once it has found something.
enum class ScanMode {
  kFirstFinding,  // SCAN, INSTREAM, FILDES: the first finding ends the scan
  kEveryFile,     // CONTSCAN, MULTISCAN: one finding for each file that has any
  kEveryHit,      // ALLMATCHSCAN: every finding of the first file that has any (several when
                  // a container has them); a walk stops there
};

// What a TCP client that gives the command is answered.
enum class OverTcp {
  kServed,
  kUnavailable,   // "COMMAND UNAVAILABLE"
  kAccessDenied,  // "PATH: Access denied. ERROR", the shape clients parse for a path
};

// All the protocol says of one command: the connection, the server, the scans and
// VERSIONCOMMANDS read it from here and nowhere else.
struct CommandRow {
  std::string_view name;  // matched exactly, case included
  CommandKind kind = CommandKind::kUnknown;
  // Its argument is a path: everything after the blank that follows the name. Every other
  // command takes none.
  bool takes_path = false;
  // It may come without a 'z' or 'n' prefix; the commands that go with what follows them
  // (a session, a stream) may not, as in the ClamAV daemon.
  bool bare = false;
  // It may be a connection's one command; END has a meaning only inside a session.
  bool outside_session = false;
  // An IDSESSION may hold it. As in the ClamAV daemon, the scans of whole trees, RELOAD,
  // SHUTDOWN and another IDSESSION end a session with an error, as an unknown command does.
  bool in_session = false;
  OverTcp over_tcp = OverTcp::kUnavailable;
  ScanMode mode = ScanMode::kFirstFinding;  // for the commands that scan
  std::string_view reply;                   // its reply when served, where that is one text
};

// The row of `kind`; kUnknown's allows nothing.
const CommandRow& RowOf(CommandKind kind);

struct DaemonCommand {
  CommandKind kind = CommandKind::kUnknown;
  std::string path;  // the path commands' argument, as sent
};

// Reads a command's text (prefix and delimiter gone). A path command without an argument,
// or another with anything after its name, is unknown; an empty path is still a path
// command, refused when it is opened.
DaemonCommand ParseDaemonCommand(std::string_view text);

// What VERSIONCOMMANDS lists after "| COMMANDS: ": over TCP, only what TCP serves.
std::string SupportedCommandNames(bool over_unix_socket);

}  // namespace quarn
