// SPDX-License-Identifier: Apache-2.0
#include "desktop/program_commands.h"

#include "engine/scan_log.h"
#include "engine/user_interface.h"
#include "platform/path_names.h"
#include "desktop/help_files.h"
#include "desktop/window_commands.h"
#include "desktop/dialogs/floppy_fix_dialog.h"
#include "desktop/dialogs/options_dialog.h"
#include "desktop/dialogs/report_printing.h"
#include "desktop/dialogs/scheduler_dialog.h"

namespace quarn::window {
namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ProgramCommands::ProgramCommands(CommandContext context, QObject* parent)
    : QObject(parent), context_(std::move(context)) {}

void ProgramCommands::Run(int command_id) {
  MainWindow& window = *context_.window;
  switch (command_id) {
    case kCommandScan:
      context_.scans->Start();
      return;
    case kCommandStop:
      context_.scans->RequestStop();
      return;
    case kCommandExit:
      window.close();
      return;
    case kCommandViewLog:
      context_.launcher->OpenFile(FromUtf8(JoinPath(context_.data_directory, kScanLogName)));
      break;
    case kCommandEncyclopedia:
      OpenDataFile(kEncyclopediaFile);
      break;
    case kCommandHelp:
      OpenDataFile(kHelpFile);
      break;
    case kCommandOnlineUpdate:
      tools::ShowOnlineUpdate(&window, context_.language, *context_.launcher,
                              context_.data_directory);
      break;
    case kCommandAbout:
      tools::ShowAbout(&window, context_.language, context_.database_version);
      break;
    case kCommandPrint:
      PrintResultList();
      break;
    case kCommandOptions:
      ChangeOptions();
      break;
    case kCommandFloppyBootFix:
      tools::RunFloppyBootFixDialog(&window, context_.language, *context_.drives,
                                    *context_.system_access);
      break;
    case kCommandScheduler:
      tools::RunSchedulerDialog(&window, context_.language, *context_.settings);
      break;
    default:
      return;
  }
  window.tree()->setFocus();
}

void ProgramCommands::ChangeOptions() {
  MainWindow& window = *context_.window;
  const tools::OptionsOutcome outcome = tools::RunOptionsDialog(
      &window, context_.language, *context_.settings, context_.session->options());
  if (!outcome.accepted) return;
  context_.session->set_options(outcome.options);
  for (const tools::StatusText& status : outcome.status_texts) {
    window.options_bar()->SetText(static_cast<int>(status.part), FromUtf8(status.text));
  }
  if (!outcome.rebuild_tree) return;
  const bool list_network = outcome.options.network_resources == 1;
  std::vector<NetworkShare> shares;
  if (list_network && context_.network_shares) shares = context_.network_shares();
  DriveTree& tree = *window.tree();
  tree.Fill(context_.language, list_network, shares);
  tree.expandItem(tree.computer_item());
  tree.setCurrentItem(tree.computer_item());
}

void ProgramCommands::PrintResultList() {
  if (!tools::PrintReport(context_.window, context_.session->result_list())) {
    MainWindow::ShowMessage(FromUtf8(std::string(LoadText(context_.language, kErrorCaption))),
                            FromUtf8(std::string(tools::kPrintFailedText)));
  }
}

void ProgramCommands::OpenDataFile(std::string_view name) {
  context_.launcher->OpenFile(FromUtf8(
      DataFilePath(*context_.files, context_.data_directory, context_.bundled_directory, name)));
}

}  // namespace quarn::window
