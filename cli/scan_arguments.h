// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/container_arguments.h"
#include "platform/status.h"
#include "res/message_table.h"
#include "shell/shared_options.h"

namespace quarn {

// The number of cores this process may run on, at least 1: --jobs without a value.
int DefaultJobs();

// Everything quarnscan's command line can say: the options it shares with quarnexp, then its
// own. An absent value means "as the settings say"; none of it is ever written back to the
// settings store.
struct ScanArguments : SharedOptions {
  std::optional<Language> language;
  std::optional<uint32_t> file_filter;         // FileFilter: 0 executables, 1 all files
  std::optional<uint32_t> scan_action;         // ScanAction 0 to 6
  std::optional<uint32_t> heuristics_enabled;  // 1 on, 0 off
  std::optional<bool> answer;                  // --yes / --no: the answer to every question
  bool json = false;
  // --paths host: plain lines name files by their host path ("/srv/x.zip!A.COM").
  bool host_paths = false;
  // --read-only: nothing is written but standard output and error and unnamed temporary
  // files (no action, no settings, no first-run copy or refresh, no log, no working copy).
  bool read_only = false;
  // --log FILE, or "" for --no-log; absent: QUARNEXP.LOG in the data directory.
  std::optional<std::string> log_path;
  // Threads for the detection stage; the output is the same for any number.
  int jobs = DefaultJobs();
  ContainerArguments containers;
  std::vector<std::string> targets;  // in the order given
  // --floppy-fix A: or B:: the BIOS disk (0 or 1) whose boot sector is rewritten instead of
  // a scan, in the format of --format (a format id of the boot fix).
  std::optional<uint8_t> floppy_fix;
  int floppy_format = 1033;
};

// How a command line ended: with arguments to scan with, or with text to print and an exit
// status (0 after --help and --version, kExitCannotRun after a mistake).
struct ArgumentsOutcome {
  std::optional<ScanArguments> arguments;
  int exit_code = 0;
  std::string standard_output;
  std::string standard_error;
  // --version was given: standard_output holds the program's version, and the caller adds
  // the database's (shell/data_folder.h).
  bool version_requested = false;
};

// Parses quarnscan's command line (argv[0] is the program). Never prints and never exits.
ArgumentsOutcome ParseScanArguments(int argc, const char* const* argv);

}  // namespace quarn
