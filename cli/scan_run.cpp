// SPDX-License-Identifier: Apache-2.0
#include "cli/scan_run.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/interrupt_watch.h"
#include "cli/json_events.h"
#include "cli/output_channel.h"
#include "cli/plain_output.h"
#include "cli/scan_targets.h"
#include "cli/terminal_interface.h"
#include "cli/terminal_text.h"
#include "cli/watched_log.h"
#include "engine/database_loader.h"
#include "imported/imported_detector.h"
#include "platform/drive_sources.h"
#include "platform/file_contents.h"
#include "platform/image_system_access.h"
#include "shell/boot_scan.h"
#include "shell/data_folder.h"
#include "shell/drive_setup.h"
#include "shell/memory_check.h"
#include "sysarea/floppy_boot_sector.h"

namespace quarn {
namespace {

// The settings of a --read-only run: read as they are, never written (the loader would write
// a missing "Opzioni" back).
class ReadOnlySettings : public SettingsStore {
 public:
  explicit ReadOnlySettings(SettingsStore& store) : store_(store) {}
  Result<RegistryDocument> Load() override { return store_.Load(); }
  Status Update(const std::function<void(RegistryDocument&)>&) override {
    return Status::Error(store_.Location() + ": not written in a read-only run");
  }
  const std::string& Location() const override { return store_.Location(); }

 private:
  SettingsStore& store_;
};

void SayProblem(std::FILE* err, const std::string& text) {
  const std::string line = "quarnscan: " + TerminalSafeText(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), err);
  std::fflush(err);
}

Language RunLanguage(const ScanArguments& arguments, const RegistryDocument& settings) {
  if (arguments.language) return *arguments.language;
  return LanguageFromSetting(settings.ReadNumber(kProgramKey, "Lingua").value_or(0));
}

// The data directory to load from in place of "DAT", when this run has one: --data-dir, or
// the bundled files when a first run could not set up the per-user folder.
std::optional<std::string> DataDirectoryOverride(const ScanArguments& arguments,
                                                 const ScanEnvironment& environment,
                                                 const RegistryDocument& settings) {
  if (arguments.data_directory) return arguments.data_directory;
  // Neither set up nor refreshed: the folder "DAT" names as it is, else the bundled one.
  if (arguments.read_only) {
    if (settings.ReadText(kProgramKey, "DAT")) return std::nullopt;
    return environment.bundled_data_directory;
  }
  Result<std::string> ensured = PrepareDataDirectory(
      *environment.settings, *environment.files, environment.bundled_data_directory,
      environment.user_data_directory, BundleRefresh::kRefresh);
  if (ensured) return std::nullopt;
  SayProblem(environment.err, ensured.message());
  if (environment.bundled_data_directory.empty()) return std::nullopt;
  return environment.bundled_data_directory;
}

ScanOptions RunOptions(const ScanArguments& arguments, ScanOptions stored) {
  if (arguments.file_filter) stored.file_filter = *arguments.file_filter;
  if (arguments.scan_action) stored.scan_action = *arguments.scan_action;
  if (arguments.read_only) stored.scan_action = kActionReportOnly;
  if (arguments.heuristics_enabled) stored.heuristics_enabled = *arguments.heuristics_enabled;
  return stored;
}

// The log's folder and name: --log FILE, or QUARNEXP.LOG where the databases were loaded
// from (the data directory, or the working directory when that cannot be opened, as the
// loader does). Nothing for --no-log.
std::optional<std::pair<std::string, std::string>> LogLocation(const ScanArguments& arguments,
                                                               const EngineState& state,
                                                               FileSystem& files) {
  if (arguments.log_path) {
    if (arguments.log_path->empty()) return std::nullopt;
    return SplitHostPath(*arguments.log_path);
  }
  std::string folder = state.data_directory.empty() ? "." : state.data_directory;
  if (!files.OpenFolder(folder)) folder = ".";
  return std::pair{folder, std::string(kScanLogName)};
}

// The BIOS disks of this run: the --disk flags, else the store's Disks key, whole.
Result<std::vector<DiskMapping>> RunDisks(const ScanArguments& arguments,
                                          const RegistryDocument& settings) {
  if (arguments.disks.empty()) return DiskMappingsFromSettings(settings);
  return arguments.disks;
}

std::optional<std::string> RunMemoryImage(const ScanArguments& arguments,
                                          const RegistryDocument& settings) {
  if (arguments.memory_image) return arguments.memory_image;
  return settings.ReadText(kProgramKey, kMemoryImageValue);
}

constexpr int kMemoryAlertTitle = 351;
constexpr int kMemoryAlertVirus = 477;
constexpr int kMemoryAlertText = 478;

// The start-up memory scan, with its verdict to the output. A virus active in memory is shown in
// the alert; the caller then ends the run without scanning a file.
MemoryScanResult CheckMemory(ScanSession& session, SystemAccess& system_access,
                             ScanOutput& output) {
  MemoryScanResult result = CheckMemoryAtStartUp(session, system_access);
  output.AddMemoryVerdict(result.virus_id, result.name);
  if (result.virus_id != 0) {
    const Language language = session.language();
    session.ui().ShowMessage(LoadText(language, kMemoryAlertTitle),
                             std::string(LoadText(language, kMemoryAlertVirus)) + result.name +
                                 " " + std::string(LoadText(language, kMemoryAlertText)));
  }
  return result;
}

constexpr int kNoDiskMappedText = 440;

// Says which images cannot be used: "Non trovato: IMAGE" for one that does not exist, as for
// a missing target, else the cause. True when there was any.
bool ReportImageProblems(const std::vector<ImageProblem>& problems, std::FILE* err) {
  for (const ImageProblem& problem : problems) {
    if (problem.missing) {
      const std::string line = "Non trovato: " + TerminalSafeText(problem.image) + "\n";
      std::fwrite(line.data(), 1, line.size(), err);
    } else {
      SayProblem(err, problem.message);
    }
  }
  std::fflush(err);
  return !problems.empty();
}

// --floppy-fix: a new boot sector for a floppy disk instead of a scan, with the messages
// of the desktop program's boot fix. A drive with no disk mapped, or whose image cannot be
// used, is told as such, rather than as a write-protected disk.
int FixFloppyBootSector(const ScanArguments& arguments, ImageSystemAccess& system_access,
                        UserInterface& ui, Language language, std::FILE* err) {
  const uint8_t disk = *arguments.floppy_fix;
  if (!system_access.HasSectors(disk)) {
    ui.ShowError(std::string(LoadText(language, kNoDiskMappedText)) +
                 static_cast<char>('A' + disk) + ":");
    return kExitCannotRun;
  }
  std::vector<ImageProblem> problems = system_access.CheckImages(/*with_memory=*/false);
  std::erase_if(problems, [disk](const ImageProblem& problem) { return problem.disk != disk; });
  if (ReportImageProblems(problems, err)) return kExitCannotRun;
  const FloppyBootFixResult result =
      WriteFloppyBootSector(system_access, ui, *arguments.floppy_fix, arguments.floppy_format);
  switch (result.outcome) {
    case FloppyBootFixOutcome::kRewritten:
      ui.ShowMessage(kFloppyBootFixCaption, ui.Text(kBootSectorRewrittenText));
      return kExitNothingFound;
    case FloppyBootFixOutcome::kWriteFailed:
      ui.ShowError(ui.Text(kWriteProtectedText));
      return kExitCannotRun;
    case FloppyBootFixOutcome::kNotChangeable:
      ui.ShowError(std::string(ui.Text(kCannotChangeText)) + static_cast<char>('A' + disk) + ":");
      return kExitCannotRun;
    default:
      return kExitCannotRun;
  }
}

// `incomplete`: a target or an image was missing, or standard output could not be written.
// A file never judged (unreadable, short of resources) makes "nothing found" untrue, but
// not a finding.
int ExitStatus(bool incomplete, const ScanCounters& counters, bool system_area_found) {
  if (InterruptReceived()) return kExitStopped;
  if (incomplete) return kExitCannotRun;
  if (counters.infected + counters.suspicious > 0 || system_area_found) return kExitFound;
  return counters.unjudged > 0 ? kExitCannotRun : kExitNothingFound;
}

}  // namespace

int RunQuarnscan(const ScanArguments& arguments, const ScanEnvironment& environment) {
  FileSystem& files = *environment.files;
  Result<RegistryDocument> settings = environment.settings->Load();
  if (!settings) {
    SayProblem(environment.err, settings.message());
    return kExitCannotRun;
  }
  Result<DriveMap> drives = ChooseDriveMap(arguments.drives, *settings, environment.detect_drives,
                                           environment.working_directory);
  if (!drives) {
    SayProblem(environment.err, drives.message());
    return kExitCannotRun;
  }
  Result<std::vector<DiskMapping>> disks = RunDisks(arguments, *settings);
  if (!disks) {
    SayProblem(environment.err, disks.message());
    return kExitCannotRun;
  }
  // Drives made of disk images: their volumes' files are walked as any drive's.
  ImageDrives image_drives;
  bool images_unusable = false;
  if (environment.container_opener != nullptr) {
    Result<DriveMap> stored = DriveMapFromSettings(*settings, environment.working_directory);
    const bool detected = arguments.drives.empty() && stored && stored->empty();
    for (const std::string& problem :
         image_drives.Open(*disks, *environment.container_opener, detected, &drives.value(),
                           DriveLettersNamed(arguments.targets))) {
      SayProblem(environment.err, problem);
      images_unusable = true;
    }
  } else {
    AddFloppiesWithoutFiles(*disks, &drives.value());
  }
  ImageSystemAccess system_access(*disks, RunMemoryImage(arguments, *settings));
  image_drives.ShareWrappedSectors(system_access);
  const Language language = RunLanguage(arguments, *settings);
  const std::optional<std::string> data_directory =
      DataDirectoryOverride(arguments, environment, *settings);

  OutputChannel& channel = *environment.out;
  std::unique_ptr<ScanOutput> output;
  if (arguments.json) {
    output = std::make_unique<JsonEventOutput>(channel);
  } else {
    std::function<std::string(const std::string&)> host_form;
    if (arguments.host_paths) {
      host_form = [&drives](const std::string& host) { return drives->DisplayPath(host); };
    }
    output = std::make_unique<PlainOutput>(channel, host_form);
  }
  ControllingTerminal terminal;
  TerminalQuestions questions(arguments.answer, terminal, &InterruptReceived);
  ProgressLine progress(environment.err, environment.progress_on_err, environment.columns);
  TerminalInterface ui(*output, questions, progress, environment.err);
  ui.set_language(language);
  ScanSession* running = nullptr;
  channel.OnFailure([&](const std::string& failure) {
    progress.Clear();
    SayProblem(environment.err, failure);
    // No one reads what the scan would still say: it stops at its next entry, as on Ctrl-C,
    // and acts on no more files.
    if (running != nullptr) running->stop_requested() = true;
  });

  if (arguments.floppy_fix) {
    const int status = FixFloppyBootSector(arguments, system_access, ui, language, environment.err);
    return channel.failed() ? kExitCannotRun : status;
  }
  images_unusable |= ReportImageProblems(
      system_access.CheckImages(/*with_memory=*/!arguments.skip_memory_scan), environment.err);

  EngineState state;
  LoadRequest request;
  ReadOnlySettings unwritten(*environment.settings);
  request.settings = arguments.read_only ? &unwritten : environment.settings;
  request.files = &files;
  request.ui = &ui;
  request.language = language;
  request.data_directory_override = data_directory;
  request.log_path_override = std::string();  // opened below, where its trouble is reported
  if (LoadDatabases(request, &state) != 1) return kExitCannotRun;
  // QUARNX.DAT is optional: a damaged one is told, and the scan runs on the other two.
  auto imported = LoadImportedSignatures(
      files, state.data_directory.empty() ? std::string(".") : state.data_directory);
  if (!imported) ui.ShowError(imported.message());

  if (auto log = LogLocation(arguments, state, files)) {
    OpenWatchedLog(files, log->first, log->second, state.log, [&](const std::string& trouble) {
      progress.Clear();
      SayProblem(environment.err, trouble);
    });
  }

  ResolvedTargets targets = ResolveTargets(arguments.targets, *drives, files,
                                           environment.working_directory, &image_drives);
  for (const std::string& missing : targets.missing) {
    const std::string line = "Non trovato: " + TerminalSafeText(missing) + "\n";
    std::fwrite(line.data(), 1, line.size(), environment.err);
  }
  std::fflush(environment.err);

  ScanSession session(state.signatures, state.names, state.log, ui, language,
                      RunOptions(arguments, state.options));
  session.set_containers(environment.container_opener,
                         arguments.containers.Over(ReadContainerLimits(*settings)));
  session.set_drive_images(image_drives.identities());
  session.set_read_only(arguments.read_only);
  if (imported) session.set_imported(imported->get());
  running = &session;
  if (!arguments.skip_memory_scan && CheckMemory(session, system_access, *output).virus_id != 0) {
    output->AddSummary(ScanCounters{});
    return channel.failed() ? kExitCannotRun : kExitFound;
  }
  // A scan starts with its stop request cleared: one whose output has failed already is not
  // started at all.
  if (!channel.failed()) {
    std::optional<InterruptForwarder> forwarder;
    try {
      forwarder.emplace(session.stop_requested());
    } catch (const std::system_error& failure) {
      // Without its watcher a Ctrl-C could be lost; a run that cannot start one thread
      // cannot start the scan's others either.
      SayProblem(environment.err, "cannot start a thread: " + failure.code().message());
      output->AddSummary(session.counters());
      return kExitCannotRun;
    }
    RunScan(session, files, targets.roots,
            MakeBootAreaCheck(system_access, BootTargetsOf(*drives, &image_drives)),
            arguments.jobs);
  }
  output->AddSummary(session.counters());
  const bool incomplete = !targets.missing.empty() || images_unusable || channel.failed();
  return ExitStatus(incomplete, session.counters(), ui.system_area_found());
}

}  // namespace quarn
