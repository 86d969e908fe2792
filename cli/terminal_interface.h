#pragma once

#include <cstdio>

#include "cli/progress_line.h"
#include "cli/scan_output.h"
#include "cli/terminal_questions.h"
#include "engine/user_interface.h"

namespace quarn {

// The scan's front end in a terminal. Result lines go to the output (plain or JSON); a
// message box goes to standard error as "CAPTION: TEXT" and to the output; questions go to
// TerminalQuestions; the walk's folders and the files counted feed the progress line. The
// status bars and the progress bar have no place here and are dropped.
class TerminalInterface : public UserInterface {
 public:
  // Nothing is owned; everything must outlive this object.
  TerminalInterface(ScanOutput& output, TerminalQuestions& questions, ProgressLine& progress,
                    std::FILE* err)
      : output_(output), questions_(questions), progress_(progress), err_(err) {}

  void SetOptionsStatus(OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view caption, std::string_view text) override;
  bool Ask(std::string_view caption, std::string_view text) override;
  void AddResultLine(const ResultLine& line) override;
  void ReportUnshownAction(const ResultLine& report) override;
  void ReportUnshownIncomplete(const ResultLine& report) override;
  void ReportBootVerdict(const BootVerdict& verdict) override;
  void SetStatusText(StatusPart part, std::string_view text) override;
  void EnterFolder(std::string_view display_path) override;
  void LeaveFolder() override;
  void ScanFinished(const ScanCounters& counters) override;

  // Whether a boot area was reported infected or suspicious: the counters leave those out.
  bool system_area_found() const { return system_area_found_; }

 private:
  ScanOutput& output_;
  TerminalQuestions& questions_;
  ProgressLine& progress_;
  std::FILE* err_;
  bool system_area_found_ = false;
};

}  // namespace quarn
