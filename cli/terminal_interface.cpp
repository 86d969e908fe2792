#include "cli/terminal_interface.h"

#include <string>

#include "cli/terminal_text.h"

namespace quarn {

void TerminalInterface::ShowMessage(std::string_view caption, std::string_view text) {
  progress_.Clear();
  const std::string shown = TerminalSafeText(caption) + ": " + TerminalSafeText(text) + "\n";
  std::fwrite(shown.data(), 1, shown.size(), err_);
  std::fflush(err_);
  output_.AddMessage(caption, text);
}

bool TerminalInterface::Ask(std::string_view caption, std::string_view text) {
  progress_.Clear();
  return questions_.Ask(caption, text);
}

void TerminalInterface::AddResultLine(const ResultLine& line) {
  progress_.Clear();
  output_.AddResultLine(line);
}

void TerminalInterface::ReportUnshownAction(const ResultLine& report) {
  output_.AddUnshownAction(report);
}

void TerminalInterface::ReportUnshownIncomplete(const ResultLine& report) {
  output_.AddUnshownIncomplete(report);
}

void TerminalInterface::ReportBootVerdict(const BootVerdict& verdict) {
  if (verdict.virus_id != 0 || verdict.suspicious) system_area_found_ = true;
  output_.AddBootVerdict(verdict);
}

void TerminalInterface::SetStatusText(StatusPart part, std::string_view text) {
  if (part == StatusPart::kTotal) progress_.SetCount(text);
}

void TerminalInterface::EnterFolder(std::string_view display_path) {
  progress_.EnterFolder(display_path);
}

void TerminalInterface::LeaveFolder() {
  progress_.LeaveFolder();
}

void TerminalInterface::ScanFinished(const ScanCounters&) {
  progress_.Clear();
}

}  // namespace quarn
