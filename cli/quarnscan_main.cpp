// SPDX-License-Identifier: Apache-2.0
// quarnscan: the scanner in a terminal, for scripts, servers and tests. Its command line,
// output and exit status are a contract: docs/scanner-cli.md.
#include <cstdio>

#include "cli/interrupt_watch.h"
#include "cli/output_channel.h"
#include "cli/scan_arguments.h"
#include "cli/scan_run.h"
#include "cli/terminal_device.h"
#include "containers/all_containers_opener.h"
#include "platform/descriptor_output.h"
#include "platform/drive_detection.h"
#include "platform/executable_location.h"
#include "platform/first_run.h"
#include "platform/path_names.h"
#include "platform/posix_folder.h"
#include "platform/time_zone.h"
#include "shell/data_folder.h"

int main(int argc, char** argv) {
  quarn::PinLocalTimeZone();
  quarn::InstallInterruptHandler();
  quarn::IgnoreBrokenPipes();
  quarn::ArgumentsOutcome parsed = quarn::ParseScanArguments(argc, argv);
  std::fputs(parsed.standard_output.c_str(), stdout);
  std::fflush(stdout);
  std::fputs(parsed.standard_error.c_str(), stderr);
  if (parsed.version_requested) {
    std::printf("%s\n", quarn::InstalledDatabaseVersionLine().c_str());
    return parsed.exit_code;
  }
  std::unique_ptr<quarn::FileSystem> files = quarn::OpenPosixFileSystem();
  if (!parsed.arguments) return parsed.exit_code;
  const quarn::ScanArguments& arguments = *parsed.arguments;

  std::unique_ptr<quarn::SettingsStore> settings =
      quarn::OpenFileSettingsStore(arguments.settings_path.value_or(quarn::DefaultSettingsPath()));

  // Written to directly from here on: a stdio stream drops what it holds when a write fails
  // or is interrupted.
  quarn::DescriptorChannel standard_output(fileno(stdout));
  quarn::ScanEnvironment environment;
  environment.out = &standard_output;
  environment.files = files.get();
  environment.settings = settings.get();
  environment.detect_drives = &quarn::DetectMountedDrives;
  environment.working_directory = quarn::WorkingFolderPath();
  environment.bundled_data_directory = quarn::BundledDataDirectory();
  environment.user_data_directory = quarn::DefaultUserDataDirectory();
  environment.progress_on_err = quarn::IsTerminal(stderr);
  environment.columns = quarn::TerminalColumns(stderr);
  quarn::AllContainersOpener containers;
  environment.container_opener = &containers;
  return quarn::RunQuarnscan(arguments, environment);
}
