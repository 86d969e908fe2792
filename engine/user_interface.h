// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

#include "engine/result_line.h"
#include "res/message_table.h"

namespace quarn {

// The parts of the options status bar.
enum class OptionsStatusPart : int { kFileFilter = 0, kScanAction = 1, kHeuristics = 2 };

// The string table's ids of the captions of errors and warnings.
inline constexpr int kErrorCaption = 460;
inline constexpr int kWarningCaption = 461;

inline constexpr int kProgressSteps = 20;  // the progress bar's range is 0 to this

// The one way the engine and the scan talk to the person in front of it. The desktop window,
// the terminal scanner and the tests each implement it. The result list, the log and the
// counters live in the scan's core; this interface only shows them, so a front end may
// leave any of the display calls below as they are.
class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // The language of the texts shown through this interface; its front end sets it, Italian
  // until then.
  Language language() const { return language_; }
  void set_language(Language language) { language_ = language; }
  // The string table's text `id` in that language.
  std::string_view Text(int id) const { return LoadText(language_, id); }
  // A message box captioned "Errore" or "Attenzione" in that language.
  void ShowError(std::string_view text) { ShowMessage(Text(kErrorCaption), text); }
  void ShowWarning(std::string_view text) { ShowMessage(Text(kWarningCaption), text); }

  virtual void SetOptionsStatus(OptionsStatusPart part, std::string_view text) = 0;

  // A message box with an OK button and no owner window.
  virtual void ShowMessage(std::string_view caption, std::string_view text) = 0;

  // A yes/no question with the stop icon; true only for Yes.
  virtual bool Ask(std::string_view /*caption*/, std::string_view /*text*/) { return false; }

  // A line the core has stored in the result list and appended to the log.
  virtual void AddResultLine(const ResultLine& /*line*/) {}
  // An action that failed without a result line of its own (a delete or rename refused
  // with a message): what it reports, for front ends that record every attempt.
  virtual void ReportUnshownAction(const ResultLine& /*report*/) {}
  // A part of a container not scanned past the lines one top-level file may show: what it
  // reports, for front ends that record every one.
  virtual void ReportUnshownIncomplete(const ResultLine& /*report*/) {}
  // Once per boot area checked, after its lines and after the removal it led to, if any (a
  // removal's question comes between the finding's line and this report).
  virtual void ReportBootVerdict(const BootVerdict& /*verdict*/) {}
  virtual void SetStatusText(StatusPart /*part*/, std::string_view /*text*/) {}
  // The progress bar's position, 0 to kProgressSteps.
  virtual void SetProgress(int /*position*/) {}
  // The walk goes into a folder (as shown: drive letter and backslashes) and back out.
  virtual void EnterFolder(std::string_view /*display_path*/) {}
  virtual void LeaveFolder() {}
  virtual void ScanStarted() {}
  virtual void ScanFinished(const ScanCounters& /*counters*/) {}

 private:
  Language language_ = Language::kItalian;
};

}  // namespace quarn
