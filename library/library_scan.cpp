#include "library/library_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/json_events.h"
#include "cli/scan_targets.h"
#include "containers/all_containers_opener.h"
#include "engine/scan_log.h"
#include "platform/bytes_file.h"
#include "platform/path_names.h"
#include "platform/posix_folder.h"
#include "shell/container_limits.h"
#include "shell/folder_walk.h"
#include "shell/lone_file_folder.h"
#include "shell/scan_driver.h"

namespace quarn {
namespace {

// One session of its own for every scan, with its own container opener (openers keep state
// between the files they open): scans on other threads share only the databases.
template <typename Scan>
ScanEnd RunLibraryScan(const DatabaseSet& databases, const ScanRequest& request,
                       EventSinkInterface& ui, ScanOptions options, Scan scan) {
  ScanLog no_log;
  ScanSession session(databases.signatures, databases.names, no_log, ui, Language::kItalian,
                      options);
  AllContainersOpener opener;
  session.set_containers(&opener, request.containers.Over(ContainerLimits{}));
  session.set_imported(databases.imported.get());
  // Nothing may be written, not even a working copy, unless an action was asked for.
  session.set_read_only(request.action == kActionReportOnly);
  ui.Attach(&session);
  scan(session);
  ui.Attach(nullptr);
  ui.Send(SummaryEvent(session.counters()));
  return ui.stopped_by_sink() ? ScanEnd::kStoppedBySink : ScanEnd::kFinished;
}

// A lone file, under `name` (as the files filter sees it) and shown as `shown`.
ScanEnd ScanLone(const DatabaseSet& databases, const ScanRequest& request, const EventSink& sink,
                 std::function<std::unique_ptr<File>()> open, const std::string& name,
                 const std::string& shown, bool always_scanned) {
  EventSinkInterface ui(sink, /*without_host_path=*/true);
  ScanOptions options = request.Options();
  if (always_scanned) options.file_filter = 1;
  return RunLibraryScan(databases, request, ui, options, [&](ScanSession& session) {
    LoneFileFolder folder(name, std::move(open));
    HandleFile(session, folder, name, shown, shown, nullptr, "");
  });
}

}  // namespace

Result<ScanEnd> ScanPathToSink(const DatabaseSet& databases, const std::string& path,
                               const ScanRequest& request, const EventSink& sink) {
  return ScanPathsToSink(databases, {path}, request, sink);
}

Result<ScanEnd> ScanPathsToSink(const DatabaseSet& databases, const std::vector<std::string>& paths,
                                const ScanRequest& request, const EventSink& sink) {
  std::unique_ptr<FileSystem> files = OpenPosixFileSystem();
  // No drive map: every path is shown as the host names it.
  ResolvedTargets targets = ResolveTargets(paths, DriveMap{}, *files, WorkingFolderPath());
  if (!targets.missing.empty()) {
    return Status::Error(targets.missing.front() +
                         ": no such file or folder, or neither a file nor a folder");
  }
  EventSinkInterface ui(sink, /*without_host_path=*/false);
  return RunLibraryScan(databases, request, ui, request.Options(),
                        [&](ScanSession& session) { RunScan(session, *files, targets.roots); });
}

Result<ScanEnd> ScanDescriptorToSink(const DatabaseSet& databases, int descriptor,
                                     const ScanRequest& request, const EventSink& sink) {
  struct stat facts {};
  if (fstat(descriptor, &facts) != 0) {
    return Status::Error("fd:" + std::to_string(descriptor) + ": " + std::strerror(errno));
  }
  if (!S_ISREG(facts.st_mode)) {
    return Status::Error("fd:" + std::to_string(descriptor) + ": not a regular file");
  }
  const std::string shown = "fd:" + std::to_string(descriptor);
  return ScanLone(databases, request, sink, DescriptorCopies(descriptor), shown, shown,
                  /*always_scanned=*/true);
}

Result<ScanEnd> ScanBytesToSink(const DatabaseSet& databases, std::span<const uint8_t> bytes,
                                const std::string& name, const ScanRequest& request,
                                const EventSink& sink) {
  const bool named = !name.empty();
  const std::string shown = named ? name : "buffer";
  // The files filter and the detectors see the last component only.
  const size_t slash = shown.find_last_of("/\\");
  const std::string file_name = slash == std::string::npos ? shown : shown.substr(slash + 1);
  if (file_name.empty()) return Status::Error(shown + ": a name must end with a file name");
  auto open = [bytes]() -> std::unique_ptr<File> { return std::make_unique<BytesFile>(bytes); };
  return ScanLone(databases, request, sink, open, file_name, shown, !named);
}

}  // namespace quarn
