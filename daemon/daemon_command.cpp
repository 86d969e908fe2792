#include "daemon/daemon_command.h"

#include <array>

namespace quarn {
namespace {

using enum CommandKind;
using enum OverTcp;
using enum ScanMode;

// In the order the ClamAV daemon's VERSIONCOMMANDS lists them, which clients may show.
// name, kind, takes_path, bare, outside_session, in_session, over_tcp, mode, reply
constexpr std::array<CommandRow, 14> kCommands = {{
    {"SCAN", kScan, true, true, true, true, kAccessDenied, kFirstFinding, {}},
    {"RELOAD", kReload, false, true, true, false, kUnavailable, kFirstFinding, "RELOADING"},
    {"PING", kPing, false, true, true, true, kServed, kFirstFinding, "PONG"},
    {"CONTSCAN", kContScan, true, true, true, false, kAccessDenied, kEveryFile, {}},
    {"VERSIONCOMMANDS", kVersionCommands, false, true, true, true, kServed, kFirstFinding, {}},
    {"VERSION", kVersion, false, true, true, true, kServed, kFirstFinding, {}},
    {"END", kEnd, false, false, false, true, kServed, kFirstFinding, {}},
    {"SHUTDOWN", kShutdown, false, true, true, false, kUnavailable, kFirstFinding, {}},
    {"MULTISCAN", kMultiScan, true, true, true, false, kAccessDenied, kEveryFile, {}},
    {"FILDES", kFildes, false, true, true, true, kUnavailable, kFirstFinding, {}},
    {"STATS", kStats, false, true, true, true, kServed, kFirstFinding, {}},
    {"IDSESSION", kIdSession, false, false, true, false, kServed, kFirstFinding, {}},
    {"INSTREAM", kInstream, false, false, true, true, kServed, kFirstFinding, {}},
    {"ALLMATCHSCAN", kAllMatchScan, true, true, true, false, kAccessDenied, kEveryHit, {}},
}};

constexpr CommandRow kUnknownRow;

}  // namespace

const CommandRow& RowOf(CommandKind kind) {
  for (const CommandRow& row : kCommands) {
    if (row.kind == kind) return row;
  }
  return kUnknownRow;
}

DaemonCommand ParseDaemonCommand(std::string_view text) {
  const size_t blank = text.find_first_of(" \t");
  const std::string_view name = text.substr(0, blank);
  for (const CommandRow& row : kCommands) {
    if (name != row.name) continue;
    if (row.takes_path != (blank != std::string_view::npos)) return {};
    if (!row.takes_path) return {row.kind, {}};
    return {row.kind, std::string(text.substr(blank + 1))};
  }
  return {};
}

std::string SupportedCommandNames(bool over_unix_socket) {
  std::string names;
  for (const CommandRow& row : kCommands) {
    if (!over_unix_socket && row.over_tcp != kServed) continue;
    if (!names.empty()) names += ' ';
    names += row.name;
  }
  return names;
}

}  // namespace quarn
