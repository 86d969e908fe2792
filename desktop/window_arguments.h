// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "shell/shared_options.h"

namespace quarn::window {

// What quarnexp's command line says. The options are those of quarnscan that make sense for
// the desktop program, with the same meaning; none of them is written to the settings.
struct WindowArguments : SharedOptions {
  // For scripts: a picture of the main window goes to this file once the command line's scan
  // has ended (or start-up has, when it starts none), and the program quits.
  std::optional<std::string> screenshot;
  // The path to look up and scan: the rest of the command line, joined by blanks.
  std::string command_line;
};

// How a command line ended: with arguments to run with, or with text to print and an exit
// status (0 after --help and --version, 2 after a mistake).
struct WindowArgumentsOutcome {
  std::optional<WindowArguments> arguments;
  int exit_code = 0;
  std::string standard_output;
  std::string standard_error;
  // --version was given: standard_output holds the program's version, and the caller adds
  // the database's (shell/data_folder.h).
  bool version_requested = false;
};

// Parses quarnexp's command line (argv[0] is the program, Qt's own options already taken
// out). Never prints and never exits.
WindowArgumentsOutcome ParseWindowArguments(int argc, const char* const* argv);

}  // namespace quarn::window
