#include "cli/scan_arguments.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <sstream>
#include <thread>
#include <utility>

#include "cli/exit_codes.h"
#include "engine/scan_options.h"

namespace quarn {
namespace {

constexpr char kProgramName[] = "quarnscan";

template <typename T>
struct Choice {
  std::string_view name;
  T value;
};

constexpr std::array<Choice<Language>, 2> kLanguages{{
    {"it", Language::kItalian},
    {"en", Language::kEnglish},
}};
constexpr std::array<Choice<uint32_t>, 2> kFileFilters{{{"exe", 0}, {"all", 1}}};
constexpr std::array<Choice<uint32_t>, 7> kScanActions{{
    {"scan", kActionReportOnly},
    {"clean", kActionCleanAuto},
    {"clean-ask", kActionCleanAsk},
    {"delete", kActionDeleteAuto},
    {"delete-ask", kActionDeleteAsk},
    {"rename", kActionRenameAuto},
    {"rename-ask", kActionRenameAsk},
}};
constexpr std::array<Choice<uint32_t>, 2> kHeuristics{{{"on", 1}, {"off", 0}}};
constexpr std::array<Choice<uint32_t>, 2> kFloppyDrives{{{"a:", 0}, {"b:", 1}}};
// The boot fix's formats, by the ids of its choices.
constexpr std::array<Choice<uint32_t>, 5> kFloppyFormats{
    {{"1.44m", 1033}, {"720k", 1034}, {"320k", 1035}, {"360k", 1036}, {"1.2m", 1037}}};

template <typename T, size_t N>
std::vector<std::string> NamesOf(const std::array<Choice<T>, N>& choices) {
  std::vector<std::string> names;
  for (const Choice<T>& choice : choices) names.emplace_back(choice.name);
  return names;
}

// The value of a name that IsMember has already checked, in any case.
template <typename T, size_t N>
T ValueOf(const std::array<Choice<T>, N>& choices, const std::string& name) {
  const std::string lower = CLI::detail::to_lower(name);
  for (const Choice<T>& choice : choices) {
    if (choice.name == lower) return choice.value;
  }
  return choices.front().value;
}

constexpr char kFooter[] =
    "TARGET is a drive (A:), a path on a mapped drive (C:\\DOS\\UTIL or c:/DOS/UTIL), or a\n"
    "host path (/srv/files, ./samples); a host path that is a file is scanned alone.\n"
    "Targets are scanned in the order given. Options apply to this run only and are never\n"
    "written to the settings.\n"
    "\n"
    "Exit status: 0 nothing found; 1 a virus or a suspicious file found; 2 the scan could not\n"
    "run, a target does not exist (the other targets are still scanned), or nothing was\n"
    "found but a file could not be read or judged; 130 stopped by\n"
    "Ctrl-C (the totals are still written). Ctrl-C twice ends at once.";

}  // namespace

int DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min(cores, 256u));
}

ArgumentsOutcome ParseScanArguments(int argc, const char* const* argv) {
  CLI::App app{"quarnscan: scans files, folders and drives for viruses, as Quarn Explorer does",
               kProgramName};
  app.set_version_flag("--version", std::string(kProgramName) + " " + QUARN_VERSION);
  app.footer(kFooter);
  app.failure_message([](const CLI::App*, const CLI::Error& error) {
    return std::string(kProgramName) + ": " + error.what() + "\nRun with --help for more.\n";
  });

  std::string language, file_filter, scan_action, heuristics, log_path;
  bool yes = false, no = false, no_log = false;
  ScanArguments arguments;
  SharedOptionDeclarations shared;
  ContainerOptionDeclarations containers;

  shared.DeclarePlaces(app);
  CLI::Option* language_option =
      app.add_option("--lang", language, "the language of the result lines")
          ->check(CLI::IsMember(NamesOf(kLanguages), CLI::ignore_case));
  CLI::Option* files_option =
      app.add_option("--files", file_filter, "executables only, or every file")
          ->check(CLI::IsMember(NamesOf(kFileFilters), CLI::ignore_case));
  CLI::Option* action_option =
      app.add_option("--action", scan_action, "what to do with an infected file; -ask asks first")
          ->check(CLI::IsMember(NamesOf(kScanActions), CLI::ignore_case));
  CLI::Option* heuristics_option =
      app.add_option("--heuristics", heuristics, "look for unknown viruses as well")
          ->check(CLI::IsMember(NamesOf(kHeuristics), CLI::ignore_case));
  CLI::Option* yes_option =
      app.add_flag("--yes", yes, "answer Yes to every question of an -ask action");
  app.add_flag("--no", no, "answer No to every question (the answer when there is no terminal)")
      ->excludes(yes_option);
  app.add_flag("--json", arguments.json, "JSON Lines events on standard output");
  std::string paths;
  app.add_option("--paths", paths,
                 "plain lines name files by drive path (C:\\DIR\\FILE, the default) or by host "
                 "path (/dir/file, with ! and the path inside a container)")
      ->check(CLI::IsMember({"drive", "host"}, CLI::ignore_case));
  CLI::Option* read_only_option =
      app.add_flag("--read-only", arguments.read_only,
                   "write nothing but the output: no action on any file, no settings, no "
                   "first-run copy, no log, no working copy (for evidence and archives)");
  CLI::Option* log_option = app.add_option("--log", log_path,
                                           "where the scan log goes (default: QUARNEXP.LOG in "
                                           "the data folder)");
  log_option->type_name("FILE");
  app.add_flag("--no-log", no_log, "write no log")->excludes(log_option);
  app.add_option("--jobs", arguments.jobs,
                 "threads that read and check files (default: the number of cores); the "
                 "output is the same for any number")
      ->type_name("N")
      ->check(CLI::Range(1, 256));
  containers.Declare(app);
  shared.DeclareMachine(app);
  std::string floppy_drive, floppy_format;
  CLI::Option* floppy_option =
      app.add_option("--floppy-fix", floppy_drive,
                     "instead of a scan, write a new boot sector on the floppy disk in A: or B: "
                     "(its BIOS disk mapped with --disk or the settings), keeping its serial "
                     "number")
          ->check(CLI::IsMember(NamesOf(kFloppyDrives), CLI::ignore_case));
  CLI::Option* format_option =
      app.add_option("--format", floppy_format,
                     "the floppy's format for --floppy-fix (default 1.44M)")
          ->check(CLI::IsMember(NamesOf(kFloppyFormats), CLI::ignore_case))
          ->needs(floppy_option);
  CLI::Option* target_option =
      app.add_option("TARGET", arguments.targets, "drives, folders and files to scan");
  target_option->excludes(floppy_option);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    std::ostringstream out, err;
    const int code = app.exit(error, out, err);
    ArgumentsOutcome outcome;
    outcome.version_requested = dynamic_cast<const CLI::CallForVersion*>(&error) != nullptr;
    outcome.exit_code = code == 0 ? kExitNothingFound : kExitCannotRun;
    outcome.standard_output = out.str();
    outcome.standard_error = err.str();
    return outcome;
  }

  // Each of these asks for a write that --read-only rules out.
  for (const CLI::Option* writer : {action_option, log_option, floppy_option}) {
    if (read_only_option->count() == 0 || writer->count() == 0) continue;
    if (writer == action_option && CLI::detail::to_lower(scan_action) == "scan") continue;
    ArgumentsOutcome outcome;
    outcome.exit_code = kExitCannotRun;
    outcome.standard_error = std::string(kProgramName) + ": --read-only excludes " +
                             writer->get_name() + "\nRun with --help for more.\n";
    return outcome;
  }
  if (floppy_option->count() == 0 && target_option->count() == 0) {
    ArgumentsOutcome outcome;
    outcome.exit_code = kExitCannotRun;
    outcome.standard_error =
        std::string(kProgramName) + ": TARGET is required\nRun with --help for more.\n";
    return outcome;
  }
  if (floppy_option->count() > 0) {
    arguments.floppy_fix = static_cast<uint8_t>(ValueOf(kFloppyDrives, floppy_drive));
    if (format_option->count() > 0) {
      arguments.floppy_format = static_cast<int>(ValueOf(kFloppyFormats, floppy_format));
    }
  }
  shared.Fill(arguments);
  containers.Fill(arguments.containers);
  if (language_option->count() > 0) arguments.language = ValueOf(kLanguages, language);
  if (files_option->count() > 0) arguments.file_filter = ValueOf(kFileFilters, file_filter);
  if (action_option->count() > 0) arguments.scan_action = ValueOf(kScanActions, scan_action);
  if (heuristics_option->count() > 0) {
    arguments.heuristics_enabled = ValueOf(kHeuristics, heuristics);
  }
  if (yes) arguments.answer = true;
  if (no) arguments.answer = false;
  if (log_option->count() > 0) arguments.log_path = log_path;
  if (no_log || arguments.read_only) arguments.log_path = std::string();
  arguments.host_paths = CLI::detail::to_lower(paths) == "host";

  ArgumentsOutcome outcome;
  outcome.arguments = std::move(arguments);
  return outcome;
}

}  // namespace quarn
