#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "cli/output_channel.h"
#include "cli/scan_arguments.h"
#include "containers/container.h"
#include "platform/drive_map.h"
#include "platform/folder.h"
#include "platform/settings_store.h"

namespace quarn {

// What a run takes from the machine, so that the run itself is the same wherever it is
// driven from. Nothing is owned.
struct ScanEnvironment {
  FileSystem* files = nullptr;
  SettingsStore* settings = nullptr;
  std::function<DriveMap()> detect_drives;  // asked only when neither flags nor settings map any
  std::string working_directory;       // for relative targets and drive folders; "" when unknown
  std::string bundled_data_directory;  // the database files that ship with the program
  std::string user_data_directory;     // where a first run copies them
  OutputChannel* out = nullptr;        // standard output
  std::FILE* err = stderr;
  bool progress_on_err = false;  // standard error is a terminal
  size_t columns = 80;
  // What opens disk images and archives met in the scan; null: none is opened.
  ContainerOpener* container_opener = nullptr;
};

// One whole run of quarnscan: reads the settings, does what a first run does, loads the
// databases, applies this run's options on top of the stored ones (without writing them
// back), opens the log, scans every target that exists in order, writes the summary and
// returns the exit status (cli/exit_codes.h). Stderr carries "CAPTION: TEXT" for message
// boxes, "Non trovato: TARGET" for a missing target or disk image, and "quarnscan: ..." for
// anything that kept the run from starting, for an image that cannot be used, for the first
// trouble with the log and for standard output that cannot be written (the scan then stops).
int RunQuarnscan(const ScanArguments& arguments, const ScanEnvironment& environment);

}  // namespace quarn
