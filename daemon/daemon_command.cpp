#include "daemon/daemon_command.h"

#include <array>
#include <utility>

namespace quarn {
namespace {

// In the order the ClamAV daemon's VERSIONCOMMANDS lists them, which clients may show.
constexpr std::array<std::pair<std::string_view, CommandKind>, 14> kCommands = {{
    {"SCAN", CommandKind::kScan},
    {"RELOAD", CommandKind::kReload},
    {"PING", CommandKind::kPing},
    {"CONTSCAN", CommandKind::kContScan},
    {"VERSIONCOMMANDS", CommandKind::kVersionCommands},
    {"VERSION", CommandKind::kVersion},
    {"END", CommandKind::kEnd},
    {"SHUTDOWN", CommandKind::kShutdown},
    {"MULTISCAN", CommandKind::kMultiScan},
    {"FILDES", CommandKind::kFildes},
    {"STATS", CommandKind::kStats},
    {"IDSESSION", CommandKind::kIdSession},
    {"INSTREAM", CommandKind::kInstream},
    {"ALLMATCHSCAN", CommandKind::kAllMatchScan},
}};

}  // namespace

bool IsPathCommand(CommandKind kind) {
  return kind == CommandKind::kScan || kind == CommandKind::kContScan ||
         kind == CommandKind::kMultiScan || kind == CommandKind::kAllMatchScan;
}

bool ServedOverTcp(CommandKind kind) {
  return !IsPathCommand(kind) && kind != CommandKind::kFildes && kind != CommandKind::kReload &&
         kind != CommandKind::kShutdown;
}

bool ServedInSession(CommandKind kind) {
  switch (kind) {
    case CommandKind::kPing:
    case CommandKind::kVersion:
    case CommandKind::kVersionCommands:
    case CommandKind::kInstream:
    case CommandKind::kScan:
    case CommandKind::kFildes:
    case CommandKind::kEnd:
    case CommandKind::kStats:
      return true;
    default:
      return false;
  }
}

DaemonCommand ParseDaemonCommand(std::string_view text) {
  const size_t blank = text.find_first_of(" \t");
  const std::string_view name = text.substr(0, blank);
  for (const auto& [known, kind] : kCommands) {
    if (name != known) continue;
    if (IsPathCommand(kind)) {
      if (blank == std::string_view::npos) return {};
      return {kind, std::string(text.substr(blank + 1))};
    }
    if (blank != std::string_view::npos) return {};
    return {kind, {}};
  }
  return {};
}

std::string SupportedCommandNames(bool over_unix_socket) {
  std::string names;
  for (const auto& [name, kind] : kCommands) {
    if (!over_unix_socket && !ServedOverTcp(kind)) continue;
    if (!names.empty()) names += ' ';
    names += name;
  }
  return names;
}

}  // namespace quarn
