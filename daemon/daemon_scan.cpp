#include "daemon/daemon_scan.h"

#include <algorithm>
#include <atomic>

#include "containers/all_containers_opener.h"
#include "shell/lone_file_folder.h"
#include "engine/scan_log.h"
#include "shell/folder_walk.h"
#include "shell/scan_session.h"

namespace quarn {
namespace {

// The front end of one daemon scan: it shows nothing, answers every question No (nothing is
// ever changed anyway) and keeps what the reply tells.
class FindingCollector : public UserInterface {
 public:
  FindingCollector(const DaemonScanSettings& settings, ScanMode mode, const std::string* lone_path,
                   const std::atomic<bool>* cancelled)
      : settings_(settings), mode_(mode), lone_path_(lone_path), cancelled_(cancelled) {}

  void Attach(ScanSession* session) { session_ = session; }
  std::vector<Finding> TakeFindings() { return std::move(findings_); }

  void SetOptionsStatus(OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view, std::string_view) override {}

  void AddResultLine(const ResultLine& line) override { Take(line); }
  void ReportUnshownIncomplete(const ResultLine& report) override { Take(report); }
  void ReportBootVerdict(const BootVerdict& verdict) override {
    if (verdict.virus_id != 0) {
      Add(verdict.host_path, (verdict.variant ? "Variant." : "") + verdict.virus_name);
    } else if (verdict.suspicious) {
      Add(verdict.host_path, "Heuristics.NewGeneration");
    }
  }
  // Called once for every file the walk meets: where a scan that is no longer wanted stops.
  void SetProgress(int) override {
    if (cancelled_ != nullptr && cancelled_->load() && session_ != nullptr) {
      session_->stop_requested() = true;
    }
  }

 private:
  void Take(const ResultLine& line) {
    switch (line.kind) {
      case ReportKind::kDetection:
        Add(line.host_path, (line.variant ? "Variant." : "") + line.virus_name);
        break;
      case ReportKind::kSuspicious:
        Add(line.host_path, "Heuristics.NewGeneration");
        break;
      case ReportKind::kIncomplete:
        if (auto cause = UnjudgedCause(line.reason)) {
          AddError(line.host_path, *cause);
        } else if (auto name = IncompleteFindingName(line.reason, settings_)) {
          Add(line.host_path, *name);
        }
        break;
      default:
        break;
    }
  }

  // An entry left unjudged is an error line of its own, once, unless it turns out infected
  // anyway; the scan goes on with the other entries, as the ClamAV daemon's does.
  void AddError(const std::string& host_path, std::string cause) {
    const std::string& path = lone_path_ != nullptr ? *lone_path_ : host_path;
    if (std::any_of(findings_.begin(), findings_.end(),
                    [&](const Finding& finding) { return finding.path == path; })) {
      return;
    }
    findings_.push_back({path, std::move(cause), /*error=*/true});
  }

  void Add(const std::string& host_path, std::string name) {
    const std::string& path = lone_path_ != nullptr ? *lone_path_ : host_path;
    const auto first_hit = std::find_if(findings_.begin(), findings_.end(),
                                        [](const Finding& finding) { return !finding.error; });
    // Every hit of the first infected file, as the ClamAV daemon answers ALLMATCHSCAN: a
    // walk goes no further than that file.
    if (mode_ == ScanMode::kEveryHit && first_hit != findings_.end() && first_hit->path != path) {
      if (session_ != nullptr) session_->stop_requested() = true;
      return;
    }
    if (mode_ != ScanMode::kEveryHit &&
        std::any_of(findings_.begin(), findings_.end(), [&](const Finding& finding) {
          return finding.path == path && !finding.error;
        })) {
      return;
    }
    std::erase_if(findings_,
                  [&](const Finding& finding) { return finding.error && finding.path == path; });
    findings_.push_back({path, std::move(name)});
    if (mode_ == ScanMode::kFirstFinding && session_ != nullptr) {
      session_->stop_requested() = true;
    }
  }

  const DaemonScanSettings& settings_;
  ScanMode mode_;
  const std::string* lone_path_;
  const std::atomic<bool>* cancelled_;
  ScanSession* session_ = nullptr;
  std::vector<Finding> findings_;
};

ScanOptions DaemonScanOptions() {
  ScanOptions options;
  options.file_filter = 1;
  options.scan_action = kActionReportOnly;
  options.heuristics_enabled = 1;
  return options;
}

// Runs `scan` in a session of its own, with its own container opener (openers keep state
// between the files they open, so scans on other threads share none).
template <typename Scan>
std::vector<Finding> RunDaemonScan(const DatabaseSet& databases,
                                   const DaemonScanSettings& settings, FindingCollector& collector,
                                   Scan scan) {
  ScanLog no_log;
  ScanSession session(databases.signatures, databases.names, no_log, collector, Language::kItalian,
                      DaemonScanOptions());
  AllContainersOpener opener;
  session.set_containers(&opener, settings.limits);
  session.set_imported(databases.imported.get());
  session.set_crosses_mounts(settings.cross_filesystems);
  collector.Attach(&session);
  scan(session);
  return collector.TakeFindings();
}

}  // namespace

std::optional<std::string> UnjudgedCause(const std::string& reason) {
  // Whatever the system said, the ClamAV daemon's words for a host entry it cannot read,
  // which its clients know.
  if (reason == "unreadable") return "Access denied";
  if (reason == "resource") return "Can't create temporary file or process";
  return std::nullopt;
}

std::optional<std::string> IncompleteFindingName(const std::string& reason,
                                                 const DaemonScanSettings& settings) {
  if (reason == "encrypted") {
    if (settings.alert_encrypted) return "Heuristics.Encrypted";
    return std::nullopt;
  }
  if (!settings.alert_exceeds_max) return std::nullopt;
  // The limit's name as the configuration file knows it.
  static constexpr std::pair<std::string_view, std::string_view> kLimits[] = {
      {"depth", "MaxRecursion"}, {"entries", "MaxFiles"}, {"size", "MaxScanSize"},
      {"ratio", "MaxRatio"},     {"time", "MaxScanTime"},
  };
  for (const auto& [word, limit] : kLimits) {
    if (reason == word) return "Heuristics.Limits.Exceeded." + std::string(limit);
  }
  return std::nullopt;
}

std::vector<Finding> ScanLoneFile(const DatabaseSet& databases,
                                  const DaemonScanSettings& settings, const FileOpener& open,
                                  const std::string& shown_path, ScanMode mode,
                                  const std::atomic<bool>* cancelled) {
  FindingCollector collector(settings, mode, &shown_path, cancelled);
  return RunDaemonScan(databases, settings, collector, [&](ScanSession& session) {
    // A name without an extension: with every file type scanned, the detectors go by the
    // bytes, and an extension could only mislead them.
    const std::string name = "FILE";
    LoneFileFolder folder(name, open);
    HandleFile(session, folder, name, shown_path, shown_path, nullptr, "");
  });
}

std::vector<Finding> ScanFolderTree(const DatabaseSet& databases,
                                    const DaemonScanSettings& settings,
                                    std::unique_ptr<Folder> folder, const std::string& folder_path,
                                    ScanMode mode, const std::atomic<bool>* cancelled) {
  FindingCollector collector(settings, mode, nullptr, cancelled);
  return RunDaemonScan(databases, settings, collector, [&](ScanSession& session) {
    WalkFolders(session, std::move(folder), folder_path, folder_path, nullptr, nullptr);
  });
}

}  // namespace quarn
