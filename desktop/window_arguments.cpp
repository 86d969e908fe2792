// SPDX-License-Identifier: Apache-2.0
#include "desktop/window_arguments.h"

#include <CLI/CLI.hpp>

#include <sstream>

namespace quarn::window {
namespace {

constexpr char kProgramName[] = "quarnexp";
constexpr int kExitBadArguments = 2;

constexpr char kFooter[] =
    "PATH is a drive or a folder of the drive tree (C:\\DOS, c:\\dos\\): when the tree shows\n"
    "it, its scan starts at once. The rest of the command line, blanks included, is the path.\n"
    "Options apply to this run only and are never written to the settings.";

}  // namespace

WindowArgumentsOutcome ParseWindowArguments(int argc, const char* const* argv) {
  CLI::App app{"quarnexp: the Quarn Explorer virus scanner's desktop program", kProgramName};
  app.set_version_flag("--version", std::string(kProgramName) + " " + QUARN_VERSION);
  app.footer(kFooter);
  app.failure_message([](const CLI::App*, const CLI::Error& error) {
    return std::string(kProgramName) + ": " + error.what() + "\nRun with --help for more.\n";
  });

  WindowArguments arguments;
  SharedOptionDeclarations shared;
  std::string screenshot;
  std::vector<std::string> path;
  shared.DeclarePlaces(app);
  shared.DeclareMachine(app);
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
    outcome.version_requested = dynamic_cast<const CLI::CallForVersion*>(&error) != nullptr;
    outcome.exit_code = code == 0 ? 0 : kExitBadArguments;
    outcome.standard_output = out.str();
    outcome.standard_error = err.str();
    return outcome;
  }
  shared.Fill(arguments);
  if (screenshot_option->count() > 0) arguments.screenshot = screenshot;
  for (const std::string& part : path) {
    if (!arguments.command_line.empty()) arguments.command_line += ' ';
    arguments.command_line += part;
  }
  WindowArgumentsOutcome outcome;
  outcome.arguments = std::move(arguments);
  return outcome;
}

}  // namespace quarn::window
