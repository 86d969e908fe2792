#include "shell/window/window_arguments.h"

#include <CLI/CLI.hpp>

#include <sstream>

#include "platform/disk_argument.h"
#include "platform/drive_sources.h"

namespace quarn::window {
namespace {

constexpr char kProgramName[] = "quarnexp";
constexpr int kExitBadArguments = 2;

constexpr char kFooter[] =
    "PATH is a drive or a folder of the drive tree (C:\\DOS, c:\\dos\\): when the tree shows\n"
    "it, its scan starts at once. The rest of the command line, blanks included, is the path.\n"
    "Options apply to this run only and are never written to the settings.";

CLI::Validator Checked(Status (*check)(std::string_view)) {
  return CLI::Validator(
      [check](std::string& value) {
        Status checked = check(value);
        return checked ? std::string() : checked.message();
      },
      "");
}

Status CheckDrive(std::string_view value) {
  Result<Drive> drive = ParseDriveArgument(value);
  return drive ? Status::Ok() : drive.status();
}

Status CheckDisk(std::string_view value) {
  Result<DiskMapping> disk = ParseDiskArgument(value);
  return disk ? Status::Ok() : disk.status();
}

}  // namespace

WindowArgumentsOutcome ParseWindowArguments(int argc, const char* const* argv) {
  CLI::App app{"quarnexp: the Quarn Explorer virus scanner's desktop program", kProgramName};
  app.set_version_flag("--version", std::string(kProgramName) + " " + QUARN_VERSION);
  app.footer(kFooter);
  app.failure_message([](const CLI::App*, const CLI::Error& error) {
    return std::string(kProgramName) + ": " + error.what() + "\nRun with --help for more.\n";
  });

  WindowArguments arguments;
  std::string settings, data_directory, memory_image, screenshot;
  std::vector<std::string> disks, path;
  CLI::Option* settings_option = app.add_option(
      "--settings", settings,
      "the settings store (default: $QUARN_SETTINGS, else ~/.config/quarnexp/settings.reg)");
  settings_option->type_name("FILE");
  CLI::Option* data_option =
      app.add_option("--data-dir", data_directory,
                     "the folder holding QUARN.DAT and NAMEVIR.DAT (default: \"DAT\")");
  data_option->type_name("DIR");
  CLI::Option* memory_option =
      app.add_option("--memory-image", memory_image,
                     "the file low DOS memory reads from (default: \"MemoryImage\", else zeros)")
          ->check(CLI::Validator(CLI::ExistingFile).description(""));
  memory_option->type_name("FILE");
  app.add_flag("--no-memory", arguments.skip_memory_scan, "skip the start-up memory scan");
  app.add_option("--drive", arguments.drives,
                 "map drive L to a host folder; TYPE is fixed (default), removable, cdrom, "
                 "remote or ramdisk; repeatable, and then the whole drive map of this run")
      ->type_name("L:=DIR[,TYPE]")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(Checked(&CheckDrive));
  app.add_option("--disk", disks,
                 "raw sectors of BIOS disk N (0 = A:, 1 = B:, 0x80 = first hard disk) from an "
                 "image or block device; repeatable")
      ->type_name("N=IMAGE[,C/H/S]")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(Checked(&CheckDisk));
  CLI::Option* screenshot_option = app.add_option(
      "--screenshot", screenshot,
      "for scripts: once the scan of PATH has ended (or start-up, when PATH starts none), "
      "save a picture of the main window to FILE (PNG) and quit");
  screenshot_option->type_name("FILE");
  app.add_option("PATH", path, "the drive or folder to scan at once");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    std::ostringstream out, err;
    const int code = app.exit(error, out, err);
    WindowArgumentsOutcome outcome;
    outcome.exit_code = code == 0 ? 0 : kExitBadArguments;
    outcome.standard_output = out.str();
    outcome.standard_error = err.str();
    return outcome;
  }
  if (settings_option->count() > 0) arguments.settings_path = settings;
  if (data_option->count() > 0) arguments.data_directory = data_directory;
  if (memory_option->count() > 0) arguments.memory_image = memory_image;
  if (screenshot_option->count() > 0) arguments.screenshot = screenshot;
  for (const std::string& disk : disks) arguments.disks.push_back(*ParseDiskArgument(disk));
  for (const std::string& part : path) {
    if (!arguments.command_line.empty()) arguments.command_line += ' ';
    arguments.command_line += part;
  }
  WindowArgumentsOutcome outcome;
  outcome.arguments = std::move(arguments);
  return outcome;
}

}  // namespace quarn::window
