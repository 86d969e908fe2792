#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "daemon/daemon_command.h"
#include "daemon/daemon_databases.h"
#include "platform/file.h"
#include "platform/folder.h"
#include "shell/container_limits.h"

namespace quarn {

struct DaemonScanSettings {
  ContainerLimits limits;
  bool alert_exceeds_max = false;  // a limit hit is a finding, Heuristics.Limits.Exceeded.*
  bool alert_encrypted = false;    // an encrypted entry is a finding, Heuristics.Encrypted
  bool cross_filesystems = true;   // a folder scan goes into the file systems mounted below
};

// One line "PATH: NAME FOUND" of a reply, or "PATH: CAUSE. ERROR" when `error` (then `name`
// is the cause), before the path and name are made safe to show.
struct Finding {
  std::string path;
  std::string name;
  bool error = false;
  bool operator==(const Finding&) const = default;
};

// Opens a new read-only handle on the bytes being scanned, each with its own position.
using FileOpener = std::function<std::unique_ptr<File>()>;

// Scans one file as a scan of a host file does (a container is opened and walked), with every
// file type scanned and heuristics on, changing nothing. Every finding carries `shown_path`,
// whatever entry of a container it came from. Stops early when `cancelled` turns true.
std::vector<Finding> ScanLoneFile(const DatabaseSet& databases,
                                  const DaemonScanSettings& settings, const FileOpener& open,
                                  const std::string& shown_path, ScanMode mode,
                                  const std::atomic<bool>* cancelled = nullptr);

// Scans `folder` and every folder below it (on the same mount unless the settings cross
// file systems, and never on one of kernel interfaces), without following links; each
// finding carries the host path of the file it came from (`folder_path` joined with the names
// on the way).
std::vector<Finding> ScanFolderTree(const DatabaseSet& databases,
                                    const DaemonScanSettings& settings,
                                    std::unique_ptr<Folder> folder, const std::string& folder_path,
                                    ScanMode mode, const std::atomic<bool>* cancelled = nullptr);

// The cause of the error line for an entry the scan left unjudged (`reason` "unreadable":
// the host file or folder could not be read; "resource": no temporary file or process to
// read it with), or nothing for a reason that leaves the verdict to the other entries.
std::optional<std::string> UnjudgedCause(const std::string& reason);

// The name a finding of a container part left unscanned gives, when the settings make it one:
// nothing for a part that is only reported.
std::optional<std::string> IncompleteFindingName(const std::string& reason,
                                                 const DaemonScanSettings& settings);

}  // namespace quarn
