#include "daemon/daemon_command.h"

#include <array>
#include <utility>

namespace quarn {
namespace {

constexpr std::array<std::pair<std::string_view, CommandKind>, 14> kCommands = {{
    {"PING", CommandKind::kPing},
    {"VERSION", CommandKind::kVersion},
    {"VERSIONCOMMANDS", CommandKind::kVersionCommands},
    {"INSTREAM", CommandKind::kInstream},
    {"SCAN", CommandKind::kScan},
    {"CONTSCAN", CommandKind::kContScan},
    {"MULTISCAN", CommandKind::kMultiScan},
    {"ALLMATCHSCAN", CommandKind::kAllMatchScan},
    {"FILDES", CommandKind::kFildes},
    {"IDSESSION", CommandKind::kIdSession},
    {"END", CommandKind::kEnd},
    {"STATS", CommandKind::kStats},
    {"RELOAD", CommandKind::kReload},
    {"SHUTDOWN", CommandKind::kShutdown},
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

std::string_view SupportedCommandNames() {
  return "SCAN RELOAD PING CONTSCAN VERSIONCOMMANDS VERSION END SHUTDOWN MULTISCAN FILDES STATS "
         "IDSESSION INSTREAM ALLMATCHSCAN";
}

}  // namespace quarn
